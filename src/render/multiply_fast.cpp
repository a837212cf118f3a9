// The matrix product four rows at a time with SSE2, in exactly the plain product's order.
//
// Each lane of a column does what multiplyPlain does for one row: start from +0, add the four
// products in order k = 0..3, each product rounded on its own (no fused multiply-add exists in
// SSE2). Starting from zero matters: 0 + (-0) is +0, so it is kept rather than folded away.
#include "render/math.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace brassmoor {

#if defined(__SSE2__)

Mat4 multiply(const Mat4& a, const Mat4& b) {
    const __m128 aColumn0 = _mm_loadu_ps(&a.m[0]);
    const __m128 aColumn1 = _mm_loadu_ps(&a.m[4]);
    const __m128 aColumn2 = _mm_loadu_ps(&a.m[8]);
    const __m128 aColumn3 = _mm_loadu_ps(&a.m[12]);
    Mat4 r;
    for (int c = 0; c < 4; ++c) {
        __m128 sum = _mm_setzero_ps();
        sum = _mm_add_ps(sum, _mm_mul_ps(aColumn0, _mm_set1_ps(b.m[4 * c])));
        sum = _mm_add_ps(sum, _mm_mul_ps(aColumn1, _mm_set1_ps(b.m[4 * c + 1])));
        sum = _mm_add_ps(sum, _mm_mul_ps(aColumn2, _mm_set1_ps(b.m[4 * c + 2])));
        sum = _mm_add_ps(sum, _mm_mul_ps(aColumn3, _mm_set1_ps(b.m[4 * c + 3])));
        _mm_storeu_ps(&r.m[4 * c], sum);
    }
    return r;
}

#else

Mat4 multiply(const Mat4& a, const Mat4& b) {
    return multiplyPlain(a, b);
}

#endif

}  // namespace brassmoor
