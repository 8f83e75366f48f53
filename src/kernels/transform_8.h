// The 1-D passes of the vector forward and inverse DCT, written once for
// every processor family: each lane does the scalar transforms' 16-bit
// arithmetic exactly (scalar twins: encode/forward_dct.cpp and
// decode/inverse_dct.cpp). A family's kernels include this after declaring,
// for their register type V, the lane-wise 16-bit primitives Add16, Sub16
// (wrapping), Half16 (arithmetic shift right by one), MulRoundQ15 (rounded
// Q15 product, (a * c + 16384) >> 15, for c in 0..32767), Splat16(V, v) and
// Transpose8x8(V*) (of a block held as eight rows).
#pragma once

namespace q32vex {
namespace {

// One forward pass on independent lanes; x[0..7] in, X0..X7 out in place.
template <class V>
inline void ForwardTransform8(V* x) {
    const V c4 = Splat16(x[0], 23170);  // cos(pi/4) in Q15
    const V c6 = Splat16(x[0], 12540);  // cos(3pi/8) in Q15
    const V c2 = Splat16(x[0], 30274);  // cos(pi/8) in Q15
    const V t0 = Half16(Add16(x[0], x[7])), t7 = Half16(Sub16(x[0], x[7]));
    const V t1 = Half16(Add16(x[1], x[6])), t6 = Half16(Sub16(x[1], x[6]));
    const V t2 = Half16(Add16(x[2], x[5])), t5 = Half16(Sub16(x[2], x[5]));
    const V t3 = Half16(Add16(x[3], x[4])), t4 = Half16(Sub16(x[3], x[4]));

    const V e0 = Half16(Add16(t0, t3)), e3 = Half16(Sub16(t0, t3));
    const V e1 = Half16(Add16(t1, t2)), e2 = Half16(Sub16(t1, t2));

    const V d = Half16(Sub16(t6, t5));
    const V m1 = MulRoundQ15(t5, c4);
    const V m2 = MulRoundQ15(t4, c4);
    const V f = Half16(Sub16(t7, t4));
    const V o13 = Half16(Sub16(f, m1)), o15 = Half16(Add16(f, m1));
    const V o12 = Half16(Sub16(d, m2)), o14 = Half16(Add16(d, m2));

    x[0] = Half16(Add16(e0, e1));
    x[4] = Half16(Sub16(e0, e1));

    const V m3 = MulRoundQ15(e2, c4);
    const V g = Half16(Sub16(e3, e2));
    x[2] = Half16(Add16(g, m3));
    x[6] = Half16(Sub16(g, m3));

    const V m4 = MulRoundQ15(o12, c6);
    const V k = Half16(Sub16(o13, o12));
    x[3] = Half16(Add16(k, m4));
    x[5] = Half16(Sub16(k, m4));

    const V m5 = MulRoundQ15(o14, c2);
    const V j = Half16(Sub16(o15, o14));
    x[1] = Half16(Add16(j, m5));
    x[7] = Half16(Sub16(j, m5));
}

// mulQ(z, K): the operand doubled in 16 bits, then the rounded Q15 product.
template <class V>
inline V MulDoubled(V z, V k) { return MulRoundQ15(Add16(z, z), k); }

// One inverse pass on independent lanes; x[0..7] in frequency order in,
// samples o0..o7 out in place.
template <class V>
inline void InverseTransform8(V* x) {
    const V k1 = Splat16(x[0], 30274);  // cos(pi/8) in Q15, applied doubled
    const V k2 = Splat16(x[0], 23170);  // cos(pi/4) in Q15, applied doubled
    const V k3 = Splat16(x[0], 12540);  // sin(pi/8) in Q15, applied doubled
    const V a0 = Add16(x[0], x[4]), a4 = Sub16(x[0], x[4]);
    const V a1 = Add16(x[1], x[7]);
    const V a7 = MulDoubled(Sub16(x[1], x[7]), k1);
    const V a2 = Add16(x[2], x[6]);
    const V a6 = MulDoubled(Sub16(x[2], x[6]), k2);
    const V a3 = Add16(x[3], x[5]);
    const V a5 = MulDoubled(Sub16(x[3], x[5]), k3);

    const V b8 = Add16(a0, a2), b10 = Sub16(a0, a2);
    const V t1 = Sub16(a6, a2);
    const V b14 = Add16(a4, t1), b12 = Sub16(a4, t1);
    const V t2 = Sub16(a5, a3), t3 = Sub16(a7, a1);
    const V b15 = Add16(t3, t2);
    const V b13 = MulDoubled(Sub16(t3, t2), k2);
    const V b9 = Add16(a1, a3);
    const V b11 = MulDoubled(Sub16(a1, a3), k2);

    x[0] = Add16(b8, b9);
    x[7] = Sub16(b8, b9);
    const V t4 = Sub16(b13, b9);
    x[3] = Add16(b10, t4);
    x[4] = Sub16(b10, t4);
    x[1] = Add16(b14, b15);
    x[6] = Sub16(b14, b15);
    const V t5 = Sub16(b11, b15);
    x[2] = Add16(b12, t5);
    x[5] = Sub16(b12, t5);
}

// Both forward passes on a block held as rows: the row pass on the transposed
// block (one lane per row), the column pass on the block as it lies.
template <class V>
inline void ForwardPasses(V* r) {
    Transpose8x8(r);
    ForwardTransform8(r);
    Transpose8x8(r);
    ForwardTransform8(r);
}

// Both inverse passes: the column pass on the block as it lies (one lane per
// column), the row pass on its transpose, and back.
template <class V>
inline void InversePasses(V* r) {
    InverseTransform8(r);
    Transpose8x8(r);
    InverseTransform8(r);
    Transpose8x8(r);
}

}  // namespace
}  // namespace q32vex
