// The lit-colour program: its two GLSL sources, compiled and linked once at start-up.
#include "render/shader.h"

#include <cstdio>

namespace brassmoor {

const char litColorVertexSource[] =
    "#version 330 core\n"
    "layout(location=0) in vec3 aPos;\n"
    "layout(location=1) in vec3 aNormal;\n"
    "uniform mat4 uMVP; uniform mat4 uModel;\n"
    "out vec3 vN;\n"
    "void main(){ gl_Position=uMVP*vec4(aPos,1.0); vN=mat3(uModel)*aNormal; }\n";

// The light is fixed in world space; 0.35 is the ambient floor.
const char litColorFragmentSource[] =
    "#version 330 core\n"
    "in vec3 vN; uniform vec3 uColor; out vec4 o;\n"
    "void main(){ vec3 L=normalize(vec3(0.4,0.5,0.9)); float d=max(dot(normalize(vN),L),0.0);\n"
    "  o=vec4(uColor*(0.35+0.65*d),1.0); }\n";

GLuint compileShader(GLenum stage, const char* source) {
    const GLuint shader = glCreateShader(stage);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint status = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &status);
    if (status == 0) {
        char log[1024];
        glGetShaderInfoLog(shader, sizeof log, nullptr, log);
        std::fprintf(stderr, "shader: %s\n", log);
    }
    // Returned even after a failed compile: start-up goes on and the link simply fails.
    return shader;
}

LitColorProgram createLitColorProgram() {
    LitColorProgram result;
    result.program = glCreateProgram();
    const GLuint vertexShader = compileShader(GL_VERTEX_SHADER, litColorVertexSource);
    const GLuint fragmentShader = compileShader(GL_FRAGMENT_SHADER, litColorFragmentSource);
    glAttachShader(result.program, vertexShader);
    glAttachShader(result.program, fragmentShader);
    glLinkProgram(result.program);
    // Only flagged: both stay attached, so they live as long as the program.
    glDeleteShader(vertexShader);
    glDeleteShader(fragmentShader);
    result.uMVPLocation = glGetUniformLocation(result.program, "uMVP");
    result.uModelLocation = glGetUniformLocation(result.program, "uModel");
    result.uColorLocation = glGetUniformLocation(result.program, "uColor");
    return result;
}

}  // namespace brassmoor
