// The batch evaluators over increasing abscissae (values_sorted, derivatives_sorted) for the
// degrees with compile-time specialisations. Private to the kernel: evaluate.cpp builds it three
// times, each inside its own namespace and target region (baseline x86-64 through
// eval_batch_portable.hpp; AVX2 with FMA and AVX-512VL through eval_batch_x86.hpp) and picks one
// at run time, since the package cannot assume the build machine's instruction set. Hence no
// include guard and no #includes here. Before each inclusion the includer defines
//   PYORVEX_VFMA(a, b, c)   a * b + c on vec4 (fused where the region allows)
//   PYORVEX_MOVEMASK(m)     the sign bits of the four lanes of a mask4, as an int
//   PYORVEX_LANES(i)        the form of a mask4 of lane numbers 0..3 that PYORVEX_PICK takes
//   PYORVEX_PICK(v, l)      the vec4 whose lane j is lane i[j] of v, l = PYORVEX_LANES(i)
//
// Method. The spans are walked forward (detail::advance). For each span that holds points, the
// points are taken four at a time until the first one at or beyond the span's right knot (a NaN
// never ends a run); the test and the evaluation share one loop, so a span costs one unpredictable
// branch. A span's points are evaluated by one of two methods:
//  - de Boor's recursion per point, vectorised across the four lanes, in the two-weight form
//    ((x - lo) w1 + (hi - x) w0) / (hi - lo), which keeps each term's error relative to that term
//    (a short span next to long ones has large differenced coefficients whose weight must vanish
//    exactly). Derivatives use it on the differenced coefficients.
//  - on spans holding several points, all inside the span, the span's Bernstein form, converted
//    by the same recursion and evaluated with non-negative weights: the recursion's error bound
//    (relative to sum |c_i| B_i(x), not to the largest coefficient of the window) at a few
//    products per point and no division (see "Bernstein form" and "pair form" below). Values
//    use it from a few points per span on, derivatives on long runs. A power form (Taylor about
//    the midpoint, say) is cheaper but not fit: its error is eps times the window's largest
//    coefficient, far above the recursion's where a small value sits beside a large coefficient.
//    The first and the last span (where points may lie outside the domain, and the weights would
//    change sign), spans too short for the reciprocal of their length to be finite and spans
//    whose coefficients would leave the range of doubles keep the recursion. Between a few and a
//    few dozen points per span, spans are converted four at a time (see "groups of four spans"
//    below), and long runs take eight points a step.
// The inverted knot differences of the window are shared by every order, and carried from one
// span to the next (P new divisions instead of P(P+1)/2). Nothing outlives the call.
// The unrolled loop nests below are laid out by hand, one recurrence a line.
// clang-format off

using vec4 = double __attribute__((vector_size(32)));
using mask4 = long long __attribute__((vector_size(32)));

[[gnu::always_inline]] inline vec4 splat(double x) { return vec4{x, x, x, x}; }

[[gnu::always_inline]] inline vec4 load4(const double* p) {
    vec4 v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}

[[gnu::always_inline]] inline void store4(double* p, vec4 v) { __builtin_memcpy(p, &v, sizeof v); }

// Lane numbers i (0..3) as the indices 2i, 2i + 1 of the 32-bit words of each double, for
// permutations that move words.
using words8 = int __attribute__((vector_size(32)));
[[gnu::always_inline]] inline words8 word_lanes(mask4 i) {
    const mask4 twice = i + i;
    const long long odd = 1LL << 32;
    return reinterpret_cast<words8>(twice | (twice << 32) | mask4{odd, odd, odd, odd});
}

// Mask of the first `count` lanes (0 <= count <= 4).
[[gnu::always_inline]] inline mask4 prefix_mask(int count) {
    const long long c = count;
    return mask4{0, 1, 2, 3} < mask4{c, c, c, c};
}

// Spans holding fewer points than this (on average) are evaluated by de Boor per point; the
// Bernstein conversion costs about as much as de Boor on four or five points.
inline constexpr std::size_t kFormRun = 4;

// From this many points per span on, a span's conversion is cheap beside its points, and the
// plain per-span loop beats the groups' lane selection.
inline constexpr std::size_t kSpanRun = 48;

// ---- per-span state ---------------------------------------------------------------------------

template <int P>
struct Span {
    detail::idx k = -2;      // span described below (-2: none yet)
    const double* d;         // window coefficients d[0..P]
    const double* T;         // window knots T[0..2P-1]
    double R[P + 1][P + 1];  // R[m][j] = 1 / (T[j+P-m] - T[j-1]),   1 <= m <= j <= P
    double dl[P + 1];        // padded copies near the ends of the knot vector
    double Tl[2 * P + 1];
};

template <int P>
[[gnu::always_inline]] inline void set_span(const detail::View& v, detail::idx k, Span<P>& s) {
    if (k >= P && k <= v.n) {  // the window lies inside both arrays
        s.d = v.c + (k - P);
        s.T = v.t + (k - P + 1);
    } else {
        detail::load_window<P>(v, k, s.dl, s.Tl);
        s.d = s.dl;
        s.T = s.Tl;
    }
    const double* T = s.T;
    if (k == s.k + 1) {
        // The window moved by one knot: R[m][j] of the new span is R[m][j+1] of the old one.
        PYORVEX_UNROLL for (int m = 1; m < P; ++m)
            PYORVEX_UNROLL for (int j = m; j < P; ++j) s.R[m][j] = s.R[m][j + 1];
        PYORVEX_UNROLL for (int m = 1; m <= P; ++m) s.R[m][P] = 1.0 / (T[2 * P - m] - T[P - 1]);
    } else {
        PYORVEX_UNROLL for (int m = 1; m <= P; ++m)
            PYORVEX_UNROLL for (int j = m; j <= P; ++j) s.R[m][j] = 1.0 / (T[j + P - m] - T[j - 1]);
    }
    s.k = k;
}

// ---- evaluators of four points --------------------------------------------------------------

// De Boor's recursion of degree D = P - Q for the derivative of order Q, whose window is
// c[0..D] (coefficients) on the knots T[Q..], with the reciprocals R[Q + s][Q + j].
template <int P, int Q>
[[gnu::always_inline]] inline vec4 deboor4(const double* c, const Span<P>& s, vec4 x) {
    constexpr int D = P - Q;
    if constexpr (D == 0) {
        return (x == x) ? splat(c[0]) : x;  // a constant still turns NaN into NaN
    } else {
        vec4 dx[2 * D];
        PYORVEX_UNROLL for (int i = 0; i < 2 * D; ++i) dx[i] = x - s.T[Q + i];
        vec4 y[D + 1];
        PYORVEX_UNROLL for (int j = 0; j <= D; ++j) y[j] = splat(c[j]);
        PYORVEX_UNROLL for (int st = 1; st <= D; ++st)
            PYORVEX_UNROLL for (int j = D; j >= st; --j)
                y[j] = (dx[j - 1] * y[j] - dx[j + D - st] * y[j - 1]) * s.R[Q + st][Q + j];
        return y[D];
    }
}

// ---- Bernstein form ---------------------------------------------------------------------------

// The derivative of order Q on the span [a, b] in Bernstein form, sum over i of
// a[i] s^i w^(D-i), D = P - Q, with s = (x - a) / (b - a), w = (b - x) / (b - a) and a[i] the
// Bernstein coefficient times C(D, i). Every coefficient is a blossom value of the derivative's
// B-spline coefficients at the span's ends, f(a^(D-i), b^i), from de Boor's recursion with one
// argument per level: both weights of every step are non-negative, so each coefficient has the
// rounding of a convex combination. Evaluated with non-negative s and w (points inside the span),
// each term keeps its error relative to itself, and the sum's error is bounded by the sum of
// the absolute terms, which is at most that of de Boor's recursion at the same point (the
// conversion is itself a convex combination): the accuracy of the recursion, at a few products
// per point instead of D(D+1)/2 steps (the pair form below). Outside the span the weights change
// sign, so the first and the last span, where points may lie beyond the domain, keep the
// recursion.

// The scaled blossom values a[0..D] of the order-Q window c[0..D] (knots T[Q..], reciprocals
// R[Q + st][Q + j], as deboor4 reads them) at the span's ends lo and hi; V is double for one
// span, vec4 for four. The blossom is symmetric, so its arguments may come in any order: row h
// of level st holds the values with h arguments at hi, and every row of a level comes from one
// row of the level before, which shares the common levels among the D + 1 values
// (sum (st + 1)(D - st + 1) steps instead of (D + 1) D (D + 1) / 2).
template <int P, class V, class Knots, class Recips>
[[gnu::always_inline]] inline void blossoms(int Q, const V* c, const Knots& T, const Recips& R,
                                            V lo, V hi, V* a) {
    const int D = P - Q;
    V w[P + 1][P + 1];
    PYORVEX_UNROLL for (int j = 0; j <= D; ++j) w[0][j] = c[j];
    PYORVEX_UNROLL for (int st = 1; st <= D; ++st)
        PYORVEX_UNROLL for (int h = st; h >= 0; --h) {
            const V u = h > 0 ? hi : lo;
            const int from = h > 0 ? h - 1 : 0;  // row h from row h - 1 at hi, row 0 from itself at lo
            PYORVEX_UNROLL for (int j = D; j >= st; --j)
                w[h][j] = ((u - T[Q + j - 1]) * w[from][j] - (u - T[Q + j + D - st]) * w[from][j - 1]) * R[Q + st][Q + j];
        }
    PYORVEX_UNROLL for (int i = 0; i <= D; ++i) a[i] = w[i][D] * detail::kTables.binom[D][i];
}

template <int N>
struct Orders {
    vec4 v[N];  // v[r]: the derivative of order Lo + r
};

// ---- pair form ----------------------------------------------------------------------------------

// Evaluation without a division. With u = x - lo, v = hi - x and h = hi - lo, the Bernstein sum
// is sum e[i] u^i v^(D-i), e[i] = a[i] / h^D. An even D is first raised by one (the sum times
// (u + v) / h = 1: e'[i] = (a[i-1] + a[i]) / h^(D+1), sums of the form's own terms), so that the
// terms pair up: with D odd and K = (D - 1) / 2,
//     f = sum over k of P_k U^k V^(K-k),   P_k = e[2k] v + e[2k+1] u,   U = u^2, V = v^2,
// by Horner's rule in U with the powers of V as weights. Every weight is non-negative, so each
// term keeps its error relative to itself and the bound above holds. On the half of the span next
// to lo, where |u| <= |v|, v = h - u turns P_k into e[2k] h + (e[2k+1] - e[2k]) u, one fused
// multiply-add whose error stays within three times |e[2k] v| + |e[2k+1] u|; the other half is
// the same sum read from hi (u = x - hi, v = lo - x, coefficients reversed and negated, D being
// odd). A cubic thus costs six products per point, against three for a power form, and no
// division. The coefficients divide by h^D: spans whose power is outside [2^-960, 2^960], or whose
// coefficients then overflow or lose digits to underflow, keep the recursion.

template <int P, int B, int Top>
struct PairForm {
    static constexpr int N = Top - B + 1;
    double e[2][N][P / 2 + 1];  // [half][Q - B][k]: P_k = e + d u, k <= (P - Q) / 2
    double d[2][N][P / 2 + 1];
    double lo, hi, mid;  // the span's ends and its midpoint, where the halves meet
};

// Whether a coefficient scaled from `from` kept its digits: finite, and not pushed below the
// normal range unless it was zero.
[[gnu::always_inline]] inline bool kept(double scaled, double from) {
    const double m = __builtin_fabs(scaled);
    return m < __builtin_inf() && (m >= 0x1p-960 || from == 0.0);
}

// Orders B..Top from c[Q - Lo][Q..P], the scaled differenced coefficients of levels_of<P, Lo, Top>;
// false when the span keeps the recursion (see above).
template <int P, int Lo, int B, int Top>
[[gnu::always_inline]] inline bool span_pairs(const Span<P>& s,
                                              const double (&c)[Top - Lo + 1][P + 1],
                                              PairForm<P, B, Top>& pf) {
    const double lo = s.T[P - 1], hi = s.T[P], h = hi - lo, inv = 1.0 / h;
    bool ok = true;
    PYORVEX_UNROLL for (int Q = B; Q <= Top; ++Q) {
        const int D = P - Q, odd = D | 1, K = D / 2;
        double a[P + 1], e[P + 2];
        blossoms<P>(Q, &c[Q - Lo][Q], s.T, s.R, lo, hi, a);
        double g = 1.0;  // h^-odd
        PYORVEX_UNROLL for (int i = 0; i < odd; ++i) g *= inv;
        ok = ok && g >= 0x1p-960 && g <= 0x1p960;
        PYORVEX_UNROLL for (int i = 0; i <= odd; ++i) {
            const double raised = D == odd ? a[i] : (i > 0 ? a[i - 1] : 0.0) + (i <= D ? a[i] : 0.0);
            e[i] = raised * g;
            ok = ok && kept(e[i], raised);
        }
        if (D == 0) {  // a constant stays exact
            PYORVEX_UNROLL for (int half = 0; half < 2; ++half) {
                pf.e[half][Q - B][0] = a[0];
                pf.d[half][Q - B][0] = 0.0;
            }
            continue;
        }
        PYORVEX_UNROLL for (int k = 0; k <= K; ++k) {
            pf.e[0][Q - B][k] = e[2 * k] * h;
            pf.d[0][Q - B][k] = e[2 * k + 1] - e[2 * k];
            pf.e[1][Q - B][k] = e[odd - 2 * k] * h;
            pf.d[1][Q - B][k] = e[odd - 2 * k] - e[odd - 2 * k - 1];
            ok = ok && kept(pf.e[0][Q - B][k], e[2 * k]) && kept(pf.e[1][Q - B][k], e[odd - 2 * k]);
        }
    }
    pf.lo = lo;
    pf.hi = hi;
    pf.mid = lo + 0.5 * h;
    return ok;
}

// One half's coefficients as vectors: loop invariants the compiler keeps in registers (read
// through pointers, they would be reloaded after every store of a result).
template <int P, int B, int Top>
struct HalfForm {
    static constexpr int N = Top - B + 1;
    vec4 e[N][P / 2 + 1], d[N][P / 2 + 1];
    vec4 from, to;
};

template <int P, int B, int Top>
[[gnu::always_inline]] inline void load_half(const PairForm<P, B, Top>& pf, int half,
                                             HalfForm<P, B, Top>& f) {
    // (Constant bounds: GCC at -O1 does not unroll a loop whose bound is the outer one's index.)
    PYORVEX_UNROLL for (int Q = B; Q <= Top; ++Q)
        PYORVEX_UNROLL for (int k = 0; k <= P / 2; ++k) {
            if (k > (P - Q) / 2) break;
            f.e[Q - B][k] = splat(pf.e[half][Q - B][k]);
            f.d[Q - B][k] = splat(pf.d[half][Q - B][k]);
        }
    f.from = splat(half == 0 ? pf.lo : pf.hi);
    f.to = splat(half == 0 ? pf.hi : pf.lo);
}

// Orders B..Top at x from one half's coefficients.
template <int P, int B, int Top>
[[gnu::always_inline]] inline Orders<Top - B + 1> pairs4(const HalfForm<P, B, Top>& f, vec4 x) {
    Orders<Top - B + 1> o;
    const vec4 u = x - f.from, v = f.to - x;
    const vec4 U = u * u;
    vec4 V[P / 2 + 2];  // V[j] = v^(2j) (V[1] unused when P < 2)
    if constexpr (P >= 2) V[1] = v * v;
    PYORVEX_UNROLL for (int j = 2; j <= P / 2; ++j) V[j] = V[j - 1] * V[1];
    PYORVEX_UNROLL for (int Q = B; Q <= Top; ++Q) {
        const int K = (P - Q) / 2;
        vec4 y = PYORVEX_VFMA(f.d[Q - B][K], u, f.e[Q - B][K]);
        PYORVEX_UNROLL for (int k = K - 1; k >= 0; --k)
            y = PYORVEX_VFMA(y, U, PYORVEX_VFMA(f.d[Q - B][k], u, f.e[Q - B][k]) * V[K - k]);
        o.v[Q - B] = y;
    }
    return o;
}

// The run from i in the span of pf, up to the first point at or beyond `right` (not NaN): the
// points before the midpoint from lo, the others from hi. run(f, edge, i) evaluates by f up to
// edge and returns the run's end.
template <int P, int B, int Top, class Run>
[[gnu::always_inline]] inline std::size_t pair_halves(const PairForm<P, B, Top>& pf, double right,
                                                      const double* xs, std::size_t i,
                                                      std::size_t m, Run&& run) {
    HalfForm<P, B, Top> form;  // one evaluator for both halves: one copy of the loop
    auto f = [&](vec4 x) __attribute__((always_inline)) { return pairs4<P, B, Top>(form, x); };
    if (xs[i] < pf.mid) {
        load_half(pf, 0, form);
        i = run(f, pf.mid, i);
    }
    if (i < m && xs[i] < right) {
        load_half(pf, 1, form);
        i = run(f, right, i);
    }
    return i;
}

// Whether the run from x (its least point) in span k takes the Bernstein form: the span is
// neither the last (points beyond the domain) nor, with x before its start, the first, and the
// reciprocal of its length is finite.
[[gnu::always_inline]] inline bool bernstein_span(const double* t, detail::idx k, detail::idx hi, double x) {
    return k < hi && x >= t[k] && 1.0 / (t[k + 1] - t[k]) < __builtin_inf();
}

// ---- runs -------------------------------------------------------------------------------------

// Evaluates f over the run starting at i (its first point is known to lie before `right`, or to
// be NaN): four points at a time up to the first abscissa >= right. In place (values) the lanes
// beyond the run keep their abscissae; into a separate row they are written too and overwritten
// by the later runs they belong to. Returns the end of the run (> i).
// Wide: eight points a step first, two independent evaluations side by side, for runs long
// enough that the points evaluated past the run's end do not matter.
template <bool InPlace, bool Wide = false, class F>
[[gnu::always_inline]] inline std::size_t run_to_edge(F&& f, double right, const double* xs,
                                                      double* out, std::size_t i, std::size_t m) {
    const vec4 r = splat(right);
    if constexpr (Wide) {
        while (i + 8 <= m) {
            const vec4 x0 = load4(xs + i), x1 = load4(xs + i + 4);
            const vec4 y0 = f(x0), y1 = f(x1);
            const int bits = PYORVEX_MOVEMASK(x0 >= r) | (PYORVEX_MOVEMASK(x1 >= r) << 4);
            if (bits == 0) {
                store4(out + i, y0);
                store4(out + i + 4, y1);
                i += 8;
                continue;
            }
            const int lead = __builtin_ctz(static_cast<unsigned>(bits));
            if (lead >= 4) {
                store4(out + i, y0);
                if constexpr (InPlace)
                    store4(out + i + 4, prefix_mask(lead - 4) ? y1 : x1);
                else
                    store4(out + i + 4, y1);
            } else {
                if constexpr (InPlace)
                    store4(out + i, prefix_mask(lead) ? y0 : x0);
                else
                    store4(out + i, y0);
            }
            return i + static_cast<std::size_t>(lead);
        }
    }
    while (i + 4 <= m) {
        const vec4 x = load4(xs + i);
        const vec4 y = f(x);
        const int bits = PYORVEX_MOVEMASK(x >= r);
        if (bits == 0) {
            store4(out + i, y);
            i += 4;
            continue;
        }
        const int lead = __builtin_ctz(static_cast<unsigned>(bits));
        if constexpr (InPlace)
            store4(out + i, prefix_mask(lead) ? y : x);
        else
            store4(out + i, y);
        return i + static_cast<std::size_t>(lead);
    }
    for (; i < m && !(xs[i] >= right); ++i) out[i] = f(splat(xs[i]))[0];
    return i;
}

// The same over a run whose end e is already known.
template <class F>
[[gnu::always_inline]] inline void run_to(F&& f, const double* xs, double* out, std::size_t i,
                                          std::size_t e, std::size_t m) {
    for (; i < e && i + 4 <= m; i += 4) store4(out + i, f(load4(xs + i)));
    for (; i < e; ++i) out[i] = f(splat(xs[i]))[0];
}

// Orders Q..top of one span into their rows; lev holds level Q of the differenced coefficients
// (unscaled). The first order evaluated finds the run's end e (have_e false) for the others.
template <int P, int Q>
[[gnu::always_inline]] inline void orders_from(const Span<P>& s, const double* lev, int first,
                                               int top, double right, const double* xs,
                                               double* work, std::size_t i, std::size_t& e,
                                               bool& have_e, std::size_t m) {
    if constexpr (Q <= P) {
        if (Q > top) return;
        if (Q >= first) {
            constexpr int D = P - Q;
            double c[D + 1];
            const double scale = detail::kTables.falling[P][Q];
            PYORVEX_UNROLL for (int j = 0; j <= D; ++j) c[j] = lev[Q + j] * scale;
            auto f = [&](vec4 x) __attribute__((always_inline)) { return deboor4<P, Q>(c, s, x); };
            double* row = work + static_cast<std::size_t>(Q - first) * m;
            if (!have_e) {
                e = run_to_edge<false>(f, right, xs, row, i, m);
                have_e = true;
            } else {
                run_to(f, xs, row, i, e, m);
            }
        }
        if constexpr (Q < P) {
            double next[P + 1];
            PYORVEX_UNROLL for (int j = Q + 1; j <= P; ++j) {
                next[j] = (lev[j] - lev[j - 1]) * s.R[Q + 1][j];
            }
            orders_from<P, Q + 1>(s, next, first, top, right, xs, work, i, e, have_e, m);
        }
    }
}

// ---- groups of four spans ----------------------------------------------------------------------

// Dense meshes (a few points per span, as many spans as the cache holds) are evaluated four spans
// at a time: the Bernstein coefficients of spans k0..k0+3 are computed together, one span per
// lane, and each point takes its span's coefficients and ends from the lanes by a permutation. A
// span's conversion is a chain of dependent divisions and products that cannot start before the
// previous run's last branch (mispredicted) resolves; with a handful of points per span that
// latency, and the one branch per span, were most of the cost. Lanes of empty spans compute
// values that no point selects (the span tests below skip empty spans).
template <int P>
struct Group {
    static constexpr int Odd = P | 1;
    vec4 e[Odd + 1];  // lane l: coefficient i of span k0 + l in the pair form's unscaled terms
    vec4 lo, hi;      // lane l: the ends of span k0 + l
};

// tb: the first lane's window knots (2P + 3 of them), cb: its coefficients (P + 4). False when a
// span of the group keeps the recursion (too short for the reciprocal of its length, or a
// coefficient out of range: see span_pairs).
template <int P>
[[gnu::always_inline]] inline bool group_bernstein(const double* tb, const double* cb, Group<P>& g) {
    constexpr int Odd = Group<P>::Odd;
    vec4 T[2 * P];
    PYORVEX_UNROLL for (int i = 0; i < 2 * P; ++i) T[i] = load4(tb + i);
    vec4 R[P + 1][P + 1];
    PYORVEX_UNROLL for (int m = 1; m <= P; ++m)
        PYORVEX_UNROLL for (int j = m; j <= P; ++j) R[m][j] = splat(1.0) / (T[j + P - m] - T[j - 1]);
    vec4 c[P + 1];
    PYORVEX_UNROLL for (int j = 0; j <= P; ++j) c[j] = load4(cb + j);
    g.lo = T[P - 1];
    g.hi = T[P];
    vec4 a[P + 1];
    blossoms<P>(0, c, T, R, g.lo, g.hi, a);
    const vec4 inv = splat(1.0) / (g.hi - g.lo);
    vec4 scale = inv;  // h^-Odd
    PYORVEX_UNROLL for (int i = 1; i < Odd; ++i) scale = scale * inv;
    mask4 bad = ~((g.hi > g.lo) & (scale >= splat(0x1p-960)) & (scale <= splat(0x1p960)));
    PYORVEX_UNROLL for (int i = 0; i <= Odd; ++i) {
        const vec4 raised = P == Odd ? a[i] : (i > 0 ? a[i - 1] : splat(0.0)) + (i <= P ? a[i] : splat(0.0));
        g.e[i] = raised * scale;
        const vec4 size = g.e[i] < 0 ? -g.e[i] : g.e[i];
        bad |= ~((size < splat(__builtin_inf())) & ((size >= splat(0x1p-960)) | (raised == 0)));
    }
    return PYORVEX_MOVEMASK(bad) == 0;
}

// The group of spans k0..k0+3. Windows that reach past either end of the arrays are padded the way
// load_window pads a single span's.
template <int P>
[[gnu::always_inline]] inline bool make_group(const detail::View& v, detail::idx k0, Group<P>& g) {
    if (k0 >= P && k0 + 3 <= v.n) return group_bernstein<P>(v.t + (k0 - P + 1), v.c + (k0 - P), g);
    double tl[2 * P + 3], cl[P + 4];
    PYORVEX_UNROLL for (int i = 0; i < 2 * P + 3; ++i)
        tl[i] = v.t[detail::clamp_index(k0 - P + 1 + i, v.L)];
    PYORVEX_UNROLL for (int j = 0; j < P + 4; ++j) {
        const detail::idx at = k0 - P + j;
        cl[j] = (at >= 0 && at <= v.n) ? v.c[at] : 0.0;
    }
    return group_bernstein<P>(tl, cl, g);
}

// Evaluates in place the run from i whose points lie in spans k0..k0+3, all before the last span
// (k0 holds xs[i], and xs[i] >= t[k0]); returns its end. A point's lane is the number of the
// group's inner knots at or below it.
template <int P>
[[gnu::always_inline]] inline std::size_t group_run(const detail::View& v, detail::idx k0,
                                                    const Group<P>& g, double* xs, std::size_t i,
                                                    std::size_t m) {
    const vec4 e1 = splat(v.t[k0 + 1]), e2 = splat(v.t[k0 + 2]), e3 = splat(v.t[k0 + 3]);
    auto f = [&](vec4 x) __attribute__((always_inline)) {
        // (maybe_unused: GCC does not count a use inside __builtin_shuffle.) The lanes' form is
        // made once: every coefficient of the point is picked with it.
        [[maybe_unused]] const auto lane = PYORVEX_LANES(-((x >= e1) + (x >= e2) + (x >= e3)));
        // The pair form of span_pairs with both weights of each pair: a point may lie anywhere
        // in its span, so no half may drop one.
        const vec4 u = x - PYORVEX_PICK(g.lo, lane), v = PYORVEX_PICK(g.hi, lane) - x;
        const vec4 U = u * u;
        constexpr int K = Group<P>::Odd / 2;
        vec4 V[K + 2];  // V[j] = v^(2j) (V[1] unused when K = 0)
        V[1] = v * v;
        PYORVEX_UNROLL for (int j = 2; j <= K; ++j) V[j] = V[j - 1] * V[1];
        auto pair = [&](int k) __attribute__((always_inline)) {
            return PYORVEX_VFMA(PYORVEX_PICK(g.e[2 * k + 1], lane), u, PYORVEX_PICK(g.e[2 * k], lane) * v);
        };
        vec4 y = pair(K);
        PYORVEX_UNROLL for (int k = K - 1; k >= 0; --k) y = PYORVEX_VFMA(y, U, pair(k) * V[K - k]);
        return y;
    };
    return run_to_edge<true>(f, v.t[k0 + 4], xs, xs, i, m);
}

// ---- spans too short for the reciprocal of their length ------------------------------------

// A span shorter than the reciprocal of the largest double has an infinite 1 / h, and every
// product with it would give infinities or NaN where the values are finite. Its points are taken
// one at a time by the recursions of eval_detail.hpp, which divide where a reciprocal is infinite:
// such spans are far too rare for their cost to matter.
template <int P>
[[gnu::always_inline]] inline bool tiny_span(const Span<P>& s) {
    if constexpr (P == 0) return false;
    else return !(s.R[P][P] < __builtin_inf());
}

// f(i) for the run from i (its first point before `right` or NaN) to the first point at or beyond
// `right`; returns the run's end.
template <class F>
inline std::size_t points_to_edge(F&& f, double right, const double* xs, std::size_t i, std::size_t m) {
    do f(i);
    while (++i < m && !(xs[i] >= right));
    return i;
}

// Orders first..top of the span at the points of the run into their rows (row q - first at
// work + (q - first) m).
template <int P>
[[gnu::noinline]] inline std::size_t tiny_orders(const Span<P>& s, int first, int top, double right,
                                                 const double* xs, double* work, std::size_t i,
                                                 std::size_t m) {
    auto f = [&](std::size_t at) {
        const double x = xs[at];
        double U[P + 1];
        detail::derivatives_unscaled<P>(s.T, s.d, x, U);
        for (int q = first; q <= top; ++q)
            work[static_cast<std::size_t>(q - first) * m + at] = x == x ? U[q] * detail::kTables.falling[P][q] : x;
    };
    return points_to_edge(f, right, xs, i, m);
}

template <int P>
[[gnu::noinline]] inline std::size_t tiny_values(const Span<P>& s, double right, double* xs,
                                                 std::size_t i, std::size_t m) {
    auto f = [&](std::size_t at) {
        double d[P + 1];
        PYORVEX_UNROLL for (int j = 0; j <= P; ++j) d[j] = s.d[j];
        xs[at] = detail::de_boor<P>(s.T, d, xs[at]);
    };
    return points_to_edge(f, right, xs, i, m);
}

// ---- drivers ----------------------------------------------------------------------------------

// The number of spans from the first to the last point's (all of them when either is NaN).
inline detail::idx covered_spans(const detail::View& v, const double* xs, std::size_t m) {
    const double a = xs[0], b = xs[m - 1];
    const detail::idx first = a == a ? detail::span_of(v, a) : detail::first_span(v);
    const detail::idx last = b == b ? detail::span_of(v, b) : detail::last_span(v);
    return last >= first ? last - first + 1 : 1;
}

template <int P>
[[gnu::always_inline]] inline void values_fixed(const detail::View& v, double* xs, std::size_t m) {
    const double* t = v.t;
    const detail::idx hi = detail::last_span(v);
    detail::idx k = detail::first_span(v);
    Span<P> s;
    std::size_t i = 0;
    // A running average of the run lengths picks the method: stable enough to keep the branch
    // predictable, started from the mean number of points per span over the spans the points
    // cover (callers pass blocks of a longer array, which cover a few spans of many).
    std::size_t avg = m / static_cast<std::size_t>(covered_spans(v, xs, m));
    while (i < m) {
        k = detail::advance(t, k, hi, xs[i]);
        const std::size_t start = i;
        if constexpr (P > 0) {
            // Groups end before the last span; the run's first point is its least.
            if (avg >= kFormRun && avg < kSpanRun && k + 4 <= hi && xs[i] >= t[k]) {
                Group<P> g;
                if (make_group<P>(v, k, g)) {
                    i = group_run<P>(v, k, g, xs, i, m);
                    // Counted per span of the group, so that the three ranges compare alike.
                    avg = (3 * avg + (i - start) / 4) / 4;
                    continue;
                }
            }
        }
        const double right = k >= hi ? detail::kNaN : t[k + 1];  // NaN: the run goes to the end
        set_span<P>(v, k, s);
        if (tiny_span(s)) {
            i = tiny_values<P>(s, right, xs, i, m);
            continue;
        }
        if constexpr (P > 0) {
            if (avg >= kFormRun && bernstein_span(t, k, hi, xs[i])) {
                double c[1][P + 1];
                PYORVEX_UNROLL for (int j = 0; j <= P; ++j) c[0][j] = s.d[j];
                PairForm<P, 0, 0> pf;
                if (span_pairs<P, 0, 0, 0>(s, c, pf)) {
                    auto run = [&](auto&& f, double edge, std::size_t from) __attribute__((always_inline)) {
                        auto value = [&](vec4 x) __attribute__((always_inline)) { return f(x).v[0]; };
                        return run_to_edge<true, true>(value, edge, xs, xs, from, m);
                    };
                    i = pair_halves(pf, right, xs, i, m, run);
                    avg = (3 * avg + (i - start)) / 4;
                    continue;
                }
            }
        }
        auto f = [&](vec4 x) __attribute__((always_inline)) { return deboor4<P, 0>(s.d, s, x); };
        i = run_to_edge<true>(f, right, xs, xs, i, m);
        avg = (3 * avg + (i - start)) / 4;
    }
}

// Orders Lo..Top together, each by deboor4's recursion on its own differenced coefficients
// c[Q - Lo][Q..P] (scaled by P!/(P-Q)!), operation for operation. Level m of every order's
// triangle takes the same weights x - T[j-1], x - T[j+P-m] and R[m][j], so the differences to x
// are computed once for all orders. (Taking the point first and differencing last, which would
// share the levels themselves, loses the digits of a derivative on a short span between long
// ones: its differences then divide the rounding of values by the short span's length.)
template <int P, int Lo, int Top>
[[gnu::always_inline]] inline Orders<Top - Lo + 1> fused4(const Span<P>& s,
                                                          const double (&c)[Top - Lo + 1][P + 1],
                                                          vec4 x) {
    Orders<Top - Lo + 1> o;
    vec4 dx[2 * P];
    PYORVEX_UNROLL for (int i = Lo; i < 2 * P - Lo; ++i) dx[i] = x - s.T[i];  // the ones used
    PYORVEX_UNROLL for (int Q = Lo; Q <= Top; ++Q) {
        vec4 y[P + 1];
        PYORVEX_UNROLL for (int j = Q; j <= P; ++j) y[j] = splat(c[Q - Lo][j]);
        PYORVEX_UNROLL for (int st = Q + 1; st <= P; ++st)
            PYORVEX_UNROLL for (int j = P; j >= st; --j)
                y[j] = (dx[j - 1] * y[j] - dx[j + P - st] * y[j - 1]) * s.R[st][j];
        o.v[Q - Lo] = (Q == P) ? ((x == x) ? y[P] : x) : y[P];  // a constant still turns NaN into NaN
    }
    return o;
}

// run_to_edge for N rows at once (row r at rows + r * m), every row written alike.
template <int N, class F>
[[gnu::always_inline]] inline std::size_t rows_to_edge(F&& f, double right, const double* xs,
                                                       double* rows, std::size_t i,
                                                       std::size_t m) {
    const vec4 r = splat(right);
    // Eight points a step: two independent evaluations side by side keep the arithmetic units
    // busy through each one's chain of dependent products.
    while (i + 8 <= m) {
        const vec4 x0 = load4(xs + i), x1 = load4(xs + i + 4);
        const Orders<N> o0 = f(x0), o1 = f(x1);
        PYORVEX_UNROLL for (int q = 0; q < N; ++q) {
            store4(rows + static_cast<std::size_t>(q) * m + i, o0.v[q]);
            store4(rows + static_cast<std::size_t>(q) * m + i + 4, o1.v[q]);
        }
        const int bits = PYORVEX_MOVEMASK(x0 >= r) | (PYORVEX_MOVEMASK(x1 >= r) << 4);
        if (bits == 0) {
            i += 8;
            continue;
        }
        return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(bits)));
    }
    // The last few points of the array (fewer than eight) one at a time.
    for (; i < m && !(xs[i] >= right); ++i) {
        const Orders<N> o = f(splat(xs[i]));
        PYORVEX_UNROLL for (int q = 0; q < N; ++q) rows[static_cast<std::size_t>(q) * m + i] = o.v[q][0];
    }
    return i;
}

// The differenced coefficients of orders Lo..Top of the span into c[Q - Lo][Q..P], each level
// scaled by P!/(P-Q)!, as orders_from computes them.
template <int P, int Lo, int Top>
[[gnu::always_inline]] inline void levels_of(const Span<P>& s, double (&c)[Top - Lo + 1][P + 1]) {
    double lev[P + 1];
    PYORVEX_UNROLL for (int j = 0; j <= P; ++j) lev[j] = s.d[j];
    PYORVEX_UNROLL for (int Q = 0; Q <= Top; ++Q) {
        if (Q >= Lo)
            PYORVEX_UNROLL for (int j = Q; j <= P; ++j)
                c[Q - Lo][j] = lev[j] * detail::kTables.falling[P][Q];
        if (Q < Top)
            PYORVEX_UNROLL for (int j = P; j >= Q + 1; --j)
                lev[j] = (lev[j] - lev[j - 1]) * s.R[Q + 1][j];
    }
}

// Orders Lo..Top (Lo <= Top <= P, not the value alone) into their rows. A run of many points
// inside its span takes every order from the span's Bernstein form; other runs take de Boor's
// recursion.
template <int P, int Lo, int Top>
[[gnu::always_inline]] inline void fused_walk(const detail::View& v, const double* xs,
                                              std::size_t m, double* work) {
    constexpr int N = Top - Lo + 1;
    const double* t = v.t;
    const detail::idx hi = detail::last_span(v);
    detail::idx k = detail::first_span(v);
    Span<P> s;
    std::size_t i = 0;
    std::size_t avg = m / static_cast<std::size_t>(covered_spans(v, xs, m));
    while (i < m) {
        k = detail::advance(t, k, hi, xs[i]);
        const double right = k >= hi ? detail::kNaN : t[k + 1];
        set_span<P>(v, k, s);
        const std::size_t start = i;
        if (tiny_span(s)) {
            i = tiny_orders<P>(s, Lo, Top, right, xs, work, i, m);
            continue;
        }
        double c[N][P + 1];
        levels_of<P, Lo, Top>(s, c);
        // Sorted points: the run's first is its least, and every point before `right`.
        PairForm<P, Lo, Top> pf;
        if (avg >= kSpanRun && bernstein_span(t, k, hi, xs[i]) && span_pairs<P, Lo, Lo, Top>(s, c, pf)) {
            auto run = [&](auto&& f, double edge, std::size_t from) __attribute__((always_inline)) {
                return rows_to_edge<N>(f, edge, xs, work, from, m);
            };
            i = pair_halves(pf, right, xs, i, m, run);
        } else {
            auto f = [&](vec4 x) __attribute__((always_inline)) { return fused4<P, Lo, Top>(s, c, x); };
            i = rows_to_edge<N>(f, right, xs, work, i, m);
        }
        avg = (3 * avg + (i - start)) / 4;
    }
}

// Picks the instantiation for top (0 < top <= P) of the orders from 0, the common request of
// several orders; other ranges take the per-order runs, which keeps the number of instantiations
// (and the build's time) linear in P.
template <int P, int Top = 1>
inline void fused_switch(const detail::View& v, const double* xs, std::size_t m, int top,
                         double* work) {
    if constexpr (Top <= P) {
        if (top == Top) return fused_walk<P, 0, Top>(v, xs, m, work);
        fused_switch<P, Top + 1>(v, xs, m, top, work);
    }
}

template <int P>
[[gnu::always_inline]] inline void derivatives_fixed(const detail::View& v, const double* xs,
                                                     std::size_t m, int first, int top,
                                                     double* work) {
    if (first == 0 && top == 0) {  // the value alone: the values' walk, on a copy of the points
        if (work != xs) __builtin_memmove(work, xs, m * sizeof(double));
        return values_fixed<P>(v, work, m);
    }
    if (first == 0) return fused_switch<P>(v, xs, m, top, work);
    const double* t = v.t;
    const detail::idx hi = detail::last_span(v);
    detail::idx k = detail::first_span(v);
    Span<P> s;
    std::size_t i = 0;
    while (i < m) {
        k = detail::advance(t, k, hi, xs[i]);
        const double right = k >= hi ? detail::kNaN : t[k + 1];
        set_span<P>(v, k, s);
        if (tiny_span(s)) {
            i = tiny_orders<P>(s, first, top, right, xs, work, i, m);
            continue;
        }
        std::size_t e = i;
        bool have_e = false;
        orders_from<P, 0>(s, s.d, first, top, right, xs, work, i, e, have_e, m);
        i = e;
    }
}

inline void values_switch(const detail::View& v, double* xs, std::size_t m) {
    switch (v.p) {
        case 0: values_fixed<0>(v, xs, m); break;
        case 1: values_fixed<1>(v, xs, m); break;
        case 2: values_fixed<2>(v, xs, m); break;
        case 3: values_fixed<3>(v, xs, m); break;
        case 4: values_fixed<4>(v, xs, m); break;
        case 5: values_fixed<5>(v, xs, m); break;
        case 6: values_fixed<6>(v, xs, m); break;
        case 7: values_fixed<7>(v, xs, m); break;
        default: break;
    }
}

inline void derivatives_switch(const detail::View& v, const double* xs, std::size_t m, int first,
                               int top, double* work) {
    switch (v.p) {
        case 0: derivatives_fixed<0>(v, xs, m, first, top, work); break;
        case 1: derivatives_fixed<1>(v, xs, m, first, top, work); break;
        case 2: derivatives_fixed<2>(v, xs, m, first, top, work); break;
        case 3: derivatives_fixed<3>(v, xs, m, first, top, work); break;
        case 4: derivatives_fixed<4>(v, xs, m, first, top, work); break;
        case 5: derivatives_fixed<5>(v, xs, m, first, top, work); break;
        case 6: derivatives_fixed<6>(v, xs, m, first, top, work); break;
        case 7: derivatives_fixed<7>(v, xs, m, first, top, work); break;
        default: break;
    }
}
// clang-format on
