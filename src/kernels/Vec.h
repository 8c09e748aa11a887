// One vector type per instruction-set level, the shape every kernel is written in once. A pack P holds
// P::kLanes doubles in a GCC vector P::V (P::U and P::I: the same lanes as unsigned and signed 64-bit
// integers); +, -, *, / and the bit operators are GCC's, on two vectors or a vector and a scalar. The
// pack's functions are what the operators lack or do badly: loads, broadcasts, fused multiply-add,
// square root, comparisons into lane masks and selections by them (a mask is a bit per lane with
// AVX-512), the first n lanes. Scalar<F> is the one-lane pack, so that a kernel instantiated with it is
// the plain loop; its F is the fused multiply-add the exponential runs on.
//
// Instruction sets are chosen per function, never per file: a kernel template is always inlined into an
// entry function that carries its level's target attribute (src/kernels/Kernels.cpp), or into a pack's
// Apart, which carries it too. A file compiled with -mavx2 would emit the inline functions of every
// header it includes with those instructions, and the linker could keep that copy for every caller,
// older processors included. The wider packs' functions use the compiler's builtins rather than the
// intrinsics: an intrinsic carries a target attribute, which an always-inlined function without it
// cannot inline, even on its way into a function that has the target; a builtin is checked where it is
// finally compiled, so one that lands outside a function of its level fails to compile.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define RCNET_X86 1
#endif

// Kernel bodies and pack functions: inlined into their caller and compiled with its instruction set.
#define RCNET_INLINE __attribute__((always_inline)) inline

// The levels' target attributes: on the table's entry functions and the packs' Apart, nowhere else.
#define RCNET_TARGET_SSE2
#define RCNET_TARGET_AVX2 __attribute__((target("avx2,fma")))
#define RCNET_TARGET_AVX512 __attribute__((target("avx512f,avx2,fma")))

// f(args...) in a function of its own built for the pack's instruction set (the pack's Apart): for a
// loop nest that, inlined into a large entry function, would be left too few registers. f is always
// inlined there.
#define RCNET_APART(TARGET)                                                        \
    template <typename Body, typename... A>                                        \
    static __attribute__((noinline)) TARGET void Apart(const Body& f, A... args) { \
        f(args...);                                                                \
    }

// Vectors go into functions by const reference and come out by value, as in Eigen's packet functions:
// GCC notes how a 32- or 64-byte vector parameter is passed, and warns that a wide vector's return
// convention depends on the instruction set, even for functions that are always inlined. No call with
// a vector ever crosses a compiled function boundary here, so the warning is off around the kernel
// headers' functions (the pair below), and only there.
#define RCNET_VECTOR_CODE_BEGIN _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Wpsabi\"")
#define RCNET_VECTOR_CODE_END _Pragma("GCC diagnostic pop")

RCNET_VECTOR_CODE_BEGIN

namespace rcnet {
struct PortableFma;  // src/kernels/Fma.h
}

namespace rcnet::kernels {

// Vector registers in 32- and 64-bit code (xmm, ymm; AVX-512 has 32 zmm in 64-bit code).
constexpr size_t kVectorRegisters = sizeof(void*) == 8 ? 16 : 8;

// One double.
template <typename F = PortableFma>
struct Scalar {
    using V = double;
    using U = uint64_t;
    using I = int64_t;
    using Mask = bool;
    static constexpr size_t kLanes = 1;
    static constexpr size_t kRegisters = kVectorRegisters;
    static constexpr bool kMaskedTail = false;

    static RCNET_INLINE V Load(const double* p) { return *p; }
    static RCNET_INLINE void Store(double* p, V v) { *p = v; }
    static RCNET_INLINE V Set(double x) { return x; }
    static RCNET_INLINE V Gather(const double* base, const uint32_t* index) { return base[*index]; }
    template <typename Get>
    static RCNET_INLINE V Of(const Get& get) {
        return get(size_t{0});
    }
    static RCNET_INLINE U Lookup(const uint64_t* table, U index) { return table[index]; }
    static RCNET_INLINE U Bits(V v) {
        U u;
        std::memcpy(&u, &v, sizeof u);
        return u;
    }
    static RCNET_INLINE V FromBits(U u) {
        V v;
        std::memcpy(&v, &u, sizeof v);
        return v;
    }
    static RCNET_INLINE I Signed(U u) { return static_cast<I>(u); }
    static RCNET_INLINE V Abs(V v) { return std::fabs(v); }
    static RCNET_INLINE V Sqrt(V v) { return std::sqrt(v); }
    static RCNET_INLINE V Fma(V a, V b, V c) { return F::Apply(a, b, c); }
    static RCNET_INLINE bool AllZero(U u) { return u == 0; }

    static RCNET_INLINE Mask Less(V a, V b) { return a < b; }
    static RCNET_INLINE Mask Greater(V a, V b) { return a > b; }
    static RCNET_INLINE Mask IntLess(I a, int64_t b) { return a < b; }
    static RCNET_INLINE V Select(Mask m, V a, V b) { return m ? a : b; }
    static RCNET_INLINE V ZeroWhere(Mask m, V v) { return m ? 0.0 : v; }
    static RCNET_INLINE Mask And(Mask a, Mask b) { return a && b; }
    static RCNET_INLINE Mask Or(Mask a, Mask b) { return a || b; }
    static RCNET_INLINE Mask AndNot(Mask a, Mask b) { return a && !b; }
    static RCNET_INLINE Mask Not(Mask m) { return !m; }
    static RCNET_INLINE unsigned MaskBits(Mask m) { return m ? 1u : 0u; }
    static RCNET_INLINE U Ones(Mask m) { return m ? ~U{0} : U{0}; }
    RCNET_APART(RCNET_TARGET_SSE2)
};

// GCC vectors of N values of T. (Declared with a fixed size: inside a template GCC takes a vector type
// whose size depends on a template parameter for its element type in places, and builds worse code.)
template <typename T, size_t N>
struct VectorOf;
#define RCNET_VECTOR_OF(N)                                          \
    template <typename T>                                           \
    struct VectorOf<T, N> {                                         \
        typedef T type __attribute__((vector_size(N * sizeof(T)))); \
    }
RCNET_VECTOR_OF(2);
RCNET_VECTOR_OF(4);
RCNET_VECTOR_OF(8);
#undef RCNET_VECTOR_OF

// W doubles in a GCC vector: what the operators and plain lane access express, which GCC lowers to the
// caller's instruction set.
template <size_t W>
struct Lanes {
    using V = typename VectorOf<double, W>::type;
    using U = typename VectorOf<uint64_t, W>::type;
    using I = typename VectorOf<int64_t, W>::type;
    using Mask = I;  // all bits set in a lane that is true
    static constexpr size_t kLanes = W;

    static RCNET_INLINE V Load(const double* p) {
        V v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    static RCNET_INLINE void Store(double* p, const V& v) { std::memcpy(p, &v, sizeof v); }
    static RCNET_INLINE V Set(double x) { return Splat(x, std::make_index_sequence<W>()); }
    // base[index[l]] lane by lane: this processor family's gather instructions are slower.
    static RCNET_INLINE V Gather(const double* base, const uint32_t* index) {
        return Of([&](size_t l) __attribute__((always_inline)) { return base[index[l]]; });
    }
    // The vector of get(0), ..., get(W - 1): a gather whose lanes come from anywhere.
    template <typename Get>
    static RCNET_INLINE V Of(const Get& get) {
        return Assemble<double, W>(get);
    }
    static RCNET_INLINE U Lookup(const uint64_t* table, const U& index) {
        uint64_t slot[W];
        std::memcpy(slot, &index, sizeof slot);
        return Assemble<uint64_t, W>([&](size_t l) __attribute__((always_inline)) { return table[slot[l]]; });
    }
    static RCNET_INLINE U Bits(const V& v) { return reinterpret_cast<U>(v); }
    static RCNET_INLINE V FromBits(const U& u) { return reinterpret_cast<V>(u); }
    static RCNET_INLINE I Signed(const U& u) { return reinterpret_cast<I>(u); }
    static RCNET_INLINE V Abs(const V& v) { return FromBits(Bits(v) & uint64_t{INT64_MAX}); }
    static RCNET_INLINE bool AllZero(const U& u) {
        uint64_t lanes[W];
        std::memcpy(lanes, &u, sizeof lanes);
        uint64_t any = 0;
        for (size_t l = 0; l < W; ++l) any |= lanes[l];
        return any == 0;
    }

    static RCNET_INLINE Mask Less(const V& a, const V& b) { return a < b; }
    static RCNET_INLINE Mask Greater(const V& a, const V& b) { return a > b; }
    static RCNET_INLINE Mask IntLess(const I& a, int64_t b) { return a < b; }
    static RCNET_INLINE V Select(const Mask& m, const V& a, const V& b) { return m ? a : b; }
    // +0 in the lanes of m: one and-not, no register of zeros.
    static RCNET_INLINE V ZeroWhere(const Mask& m, const V& v) { return FromBits(Bits(v) & ~Ones(m)); }
    static RCNET_INLINE Mask And(const Mask& a, const Mask& b) { return a & b; }
    static RCNET_INLINE Mask Or(const Mask& a, const Mask& b) { return a | b; }
    static RCNET_INLINE Mask AndNot(const Mask& a, const Mask& b) { return a & ~b; }
    static RCNET_INLINE Mask Not(const Mask& m) { return ~m; }
    static RCNET_INLINE U Ones(const Mask& m) { return reinterpret_cast<U>(m); }

private:
    template <size_t... L>
    static RCNET_INLINE V Splat(double x, std::index_sequence<L...>) {
        return V{(static_cast<void>(L), x)...};
    }
    // The vector of get(0), ..., get(N - 1); eight lanes from two halves. (GCC 12 builds eight lanes
    // given one by one as a chain of masked loads into one register, a step per lane; four it builds
    // from halves itself, and better than a join of them.)
    template <typename T, size_t N, size_t kFirst = 0, typename Get>
    static RCNET_INLINE typename VectorOf<T, N>::type Assemble(const Get& get) {
        if constexpr (N <= 4) {
            return Lanewise<T, N, kFirst>(get, std::make_index_sequence<N>());
        } else {
            return Join<T, N / 2>(Assemble<T, N / 2, kFirst>(get), Assemble<T, N / 2, kFirst + N / 2>(get),
                                  std::make_index_sequence<N>());
        }
    }
    template <typename T, size_t N, size_t kFirst, typename Get, size_t... L>
    static RCNET_INLINE typename VectorOf<T, N>::type Lanewise(const Get& get, std::index_sequence<L...>) {
        return typename VectorOf<T, N>::type{get(kFirst + L)...};
    }
    template <typename T, size_t N, size_t... L>
    static RCNET_INLINE typename VectorOf<T, 2 * N>::type Join(const typename VectorOf<T, N>::type& low,
                                                               const typename VectorOf<T, N>::type& high,
                                                               std::index_sequence<L...>) {
        return __builtin_shufflevector(low, high, L...);
    }
};

// What the packs below compute with GCC's builtins, lane by lane for other compilers (clang builds the
// fuzzing targets; there the bits matter, the speed does not).
template <size_t W>
struct Lanewise : Lanes<W> {
    using typename Lanes<W>::V;
    using typename Lanes<W>::Mask;
    static RCNET_INLINE V Fma(const V& a, const V& b, const V& c) {
        V r;
        for (size_t l = 0; l < W; ++l) r[l] = __builtin_fma(a[l], b[l], c[l]);
        return r;
    }
    static RCNET_INLINE V Sqrt(const V& v) {
        V r;
        for (size_t l = 0; l < W; ++l) r[l] = std::sqrt(v[l]);
        return r;
    }
    static RCNET_INLINE unsigned MaskBits(const Mask& m) {
        unsigned bits = 0;
        for (size_t l = 0; l < W; ++l) bits |= static_cast<unsigned>(m[l] & 1) << l;
        return bits;
    }
    // The first n <= W lanes; the others read as +0 and are never written.
    static RCNET_INLINE Mask First(size_t n) {
        Mask m;
        for (size_t l = 0; l < W; ++l) m[l] = l < n ? -1 : 0;
        return m;
    }
    static RCNET_INLINE V LoadFirst(const double* p, size_t n) {
        V v = {};
        std::memcpy(&v, p, n * sizeof(double));
        return v;
    }
    static RCNET_INLINE void StoreFirst(double* p, size_t n, const V& v) {
        std::memcpy(p, &v, n * sizeof(double));
    }
};

#if defined(RCNET_X86) && !defined(__clang__)
#define RCNET_BUILTINS 1
#endif

// The baseline every supported processor has. It has no fused multiply-add (see EmulatedFma in Fma.h):
// a C library's fma() may round twice.
struct Sse2 : Lanewise<2> {
    static constexpr size_t kRegisters = kVectorRegisters;
    static constexpr bool kMaskedTail = false;
    RCNET_APART(RCNET_TARGET_SSE2)
    static V Fma(const V& a, const V& b, const V& c) = delete;
#ifdef RCNET_BUILTINS
    static RCNET_INLINE V Sqrt(const V& v) {
        return __builtin_ia32_sqrtpd(v);
    }
    // In the floating-point domain (GCC would take the integer instructions, a cycle away on some
    // processors from the arithmetic around them).
    static RCNET_INLINE V Abs(const V& v) {
        return __builtin_ia32_andpd(v, FromBits(U{} + uint64_t{INT64_MAX}));
    }
    static RCNET_INLINE V ZeroWhere(const Mask& m, const V& v) {
        return __builtin_ia32_andnpd(reinterpret_cast<V>(m), v);
    }
#endif
};

#ifdef RCNET_X86

struct Avx2 : Lanewise<4> {
    static constexpr size_t kRegisters = kVectorRegisters;
    static constexpr bool kMaskedTail = false;
    RCNET_APART(RCNET_TARGET_AVX2)
#ifdef RCNET_BUILTINS
    static RCNET_INLINE V Fma(const V& a, const V& b, const V& c) {
        return __builtin_ia32_vfmaddpd256(a, b, c);
    }
    static RCNET_INLINE V Sqrt(const V& v) {
        return __builtin_ia32_sqrtpd256(v);
    }
    // In the floating-point domain, as Sse2's.
    static RCNET_INLINE V Abs(const V& v) {
        return __builtin_ia32_andpd256(v, FromBits(U{} + uint64_t{INT64_MAX}));
    }
    static RCNET_INLINE V ZeroWhere(const Mask& m, const V& v) {
        return __builtin_ia32_andnpd256(reinterpret_cast<V>(m), v);
    }
    // One broadcast (from four copies in an initialiser list GCC builds two halves and joins them).
    static RCNET_INLINE V Set(double x) {
        return __builtin_ia32_vbroadcastsd_pd256(VectorOf<double, 2>::type{x});
    }
    static RCNET_INLINE unsigned MaskBits(const Mask& m) {
        return static_cast<unsigned>(__builtin_ia32_movmskpd256(reinterpret_cast<V>(m)));
    }
#endif
};

// 32 registers in 64-bit code; masks in mask registers; masked loads and stores, so that a kernel's
// last partial vector needs no scalar loop.
struct Avx512 : Lanewise<8> {
    static constexpr size_t kRegisters = sizeof(void*) == 8 ? 32 : 8;
    static constexpr bool kMaskedTail = true;
    RCNET_APART(RCNET_TARGET_AVX512)
#ifdef RCNET_BUILTINS
    using Mask = __mmask8;

    static RCNET_INLINE V Fma(const V& a, const V& b, const V& c) {
        return __builtin_ia32_vfmaddpd512_mask(a, b, c, 0xff, _MM_FROUND_CUR_DIRECTION);
    }
    static RCNET_INLINE V Sqrt(const V& v) {
        return __builtin_ia32_sqrtpd512_mask(v, V{}, 0xff, _MM_FROUND_CUR_DIRECTION);
    }
    // One broadcast: eight copies of x in an initialiser list become the chain described at Assemble.
    static RCNET_INLINE V Set(double x) {
        return __builtin_ia32_broadcastsd512(VectorOf<double, 2>::type{x}, V{}, 0xff);
    }

    static RCNET_INLINE Mask Less(const V& a, const V& b) {
        return __builtin_ia32_cmppd512_mask(a, b, _CMP_LT_OQ, 0xff, _MM_FROUND_CUR_DIRECTION);
    }
    static RCNET_INLINE Mask Greater(const V& a, const V& b) {
        return __builtin_ia32_cmppd512_mask(a, b, _CMP_GT_OQ, 0xff, _MM_FROUND_CUR_DIRECTION);
    }
    static RCNET_INLINE Mask IntLess(const I& a, int64_t b) {
        return __builtin_ia32_cmpq512_mask(reinterpret_cast<__v8di>(a), reinterpret_cast<__v8di>(I{} + b),
                                           _MM_CMPINT_LT, 0xff);
    }
    // Lanes of a where m is set, of b elsewhere.
    static RCNET_INLINE V Select(Mask m, const V& a, const V& b) {
        return __builtin_ia32_blendmpd_512_mask(b, a, m);
    }
    static RCNET_INLINE V ZeroWhere(Mask m, const V& v) {
        return __builtin_ia32_movapd512_mask(v, V{}, Not(m));
    }
    static RCNET_INLINE Mask And(Mask a, Mask b) {
        return static_cast<Mask>(a & b);
    }
    static RCNET_INLINE Mask Or(Mask a, Mask b) {
        return static_cast<Mask>(a | b);
    }
    static RCNET_INLINE Mask AndNot(Mask a, Mask b) {
        return static_cast<Mask>(a & ~b);
    }
    static RCNET_INLINE Mask Not(Mask m) {
        return static_cast<Mask>(~m);
    }
    static RCNET_INLINE unsigned MaskBits(Mask m) {
        return m;
    }

    // Eight lanes by the gather instruction: quicker than lane by lane on the processors measured
    // (bench/README.md), where four lanes (AVX2's) are not.
    static RCNET_INLINE V Gather(const double* base, const uint32_t* index) {
        VectorOf<int32_t, 8>::type lanes;
        std::memcpy(&lanes, index, sizeof lanes);
        return __builtin_ia32_gathersiv8df(V{}, base, lanes, 0xff, 8);
    }
    static RCNET_INLINE U Lookup(const uint64_t* table, const U& index) {
        return reinterpret_cast<U>(__builtin_ia32_gatherdiv8di(reinterpret_cast<__v8di>(U{}), table,
                                                               reinterpret_cast<__v8di>(index), 0xff, 8));
    }

    static RCNET_INLINE Mask First(size_t n) {
        return static_cast<Mask>((1u << n) - 1);
    }
    static RCNET_INLINE V LoadFirst(const double* p, size_t n) {
        return __builtin_ia32_loadupd512_mask(p, V{}, First(n));
    }
    static RCNET_INLINE void StoreFirst(double* p, size_t n, const V& v) {
        __builtin_ia32_storeupd512_mask(p, v, First(n));
    }
#endif
};

#endif

// A whole vector, or with kPartial its first n lanes (packs with masked loads and stores).
template <typename P, bool kPartial>
RCNET_INLINE typename P::V LoadLanes(const double* p, size_t n) {
    if constexpr (kPartial) {
        return P::LoadFirst(p, n);
    } else {
        return P::Load(p);
    }
}

template <typename P, bool kPartial>
RCNET_INLINE void StoreLanes(double* p, size_t n, const typename P::V& v) {
    if constexpr (kPartial) {
        P::StoreFirst(p, n, v);
    } else {
        P::Store(p, v);
    }
}

}  // namespace rcnet::kernels

RCNET_VECTOR_CODE_END
