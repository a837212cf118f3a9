// The one GPU program: a flat colour lit by a fixed directional light.
#pragma once

#include <glad/gl.h>

namespace brassmoor {

extern const char litColorVertexSource[];
extern const char litColorFragmentSource[];

struct LitColorProgram {
    GLuint program = 0;
    GLint uMVPLocation = -1;
    GLint uModelLocation = -1;
    GLint uColorLocation = -1;
};

// Compiles one stage; a failed compile prints "shader: <log>" on stderr and the
// name is still returned, so start-up goes on.
GLuint compileShader(GLenum stage, const char* source);
// Needs a current context with the GL functions loaded.
LitColorProgram createLitColorProgram();

}  // namespace brassmoor
