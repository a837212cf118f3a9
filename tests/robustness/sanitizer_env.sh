# Environment for running the sanitizer build's programs and tests; sourced by
# scripts/check-sanitizers.sh and scripts/check-leaks.sh.
robustness_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# GLFW unloads the GL libraries at glfwTerminate, and Mesa's driver with them. Memory that only
# the driver's globals still pointed to would then be reported as leaked from an "<unknown
# module>", which no suppression can name. Loaded from the start, the driver is never unloaded.
# (Preloading libGL or libGLX_mesa as well breaks a second glfwInit in the same process.)
multiarch=$(gcc -print-multiarch 2>/dev/null || echo x86_64-linux-gnu)
if [ -e "/usr/lib/$multiarch/dri/swrast_dri.so" ]; then
  export LD_PRELOAD=/usr/lib/$multiarch/dri/swrast_dri.so
fi

export ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1
# Suppressions name third-party libraries only; a leak from our own code is always reported.
export LSAN_OPTIONS=suppressions=$robustness_dir/lsan.supp:print_suppressions=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
if [ -x /usr/bin/llvm-symbolizer-14 ]; then
  export ASAN_SYMBOLIZER_PATH=/usr/bin/llvm-symbolizer-14
fi
