// The knot search against the standard library's upper bound: sorted knots with repeats, keys
// below, between, on and past the knots, and knots out of order from a damaged file; the hinted
// search from every hint (none, before, on, after and past the answer), each array allocated to
// its exact size so that a read past its end is caught by the address sanitizer.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "curve/orvane_knot_search.h"

namespace {

template <typename K, typename V>
int32_t Reference(const std::vector<K>& knots, V key) {
    const auto it =
        std::upper_bound(knots.begin(), knots.end(), key, [](V k, K knot) { return knot > k; });
    const int32_t index = int32_t(it - knots.begin());
    return index < int32_t(knots.size()) ? index : int32_t(knots.size()) - 1;
}

TEST(KnotSearch, FindsTheFirstKnotPastTheKeyAsUpperBoundDoes) {
    std::mt19937 rng(11);
    for (int32_t count = 1; count <= 70; ++count) {
        for (int trial = 0; trial < 8; ++trial) {
            // Small steps, some of them 0: repeated knots.
            std::vector<uint16_t> knots(static_cast<size_t>(count));
            std::vector<float> times(static_cast<size_t>(count));
            uint16_t at = uint16_t(rng() % 5);
            for (int32_t i = 0; i < count; ++i) {
                at = uint16_t(at + rng() % 3);
                knots[size_t(i)] = at;
                times[size_t(i)] = 0.25f * float(at);
            }
            for (int32_t key = -2; key <= int32_t(at) + 2; ++key) {
                ASSERT_EQ(orvane::UpperBoundKnot(knots.data(), count, key), Reference(knots, key))
                    << count << " " << key;
                const float t = 0.25f * float(key);
                ASSERT_EQ(orvane::UpperBoundKnot(times.data(), count, t), Reference(times, t));
                const float between = t + 0.125f;
                ASSERT_EQ(orvane::UpperBoundKnot(times.data(), count, between),
                          Reference(times, between));
            }
            // A time that is not a number searches as one past the end.
            EXPECT_EQ(orvane::UpperBoundKnot(times.data(), count, std::nanf("")), count - 1);
        }
    }
}

TEST(KnotSearch, KnotsOutOfOrderStayInRange) {
    std::mt19937 rng(12);
    for (int32_t count = 1; count <= 40; ++count) {
        std::vector<uint16_t> knots(static_cast<size_t>(count));
        for (auto& k : knots)
            k = uint16_t(rng() % 50);
        for (int32_t key = -1; key <= 51; ++key) {
            const int32_t index = orvane::UpperBoundKnot(knots.data(), count, key);
            ASSERT_GE(index, 0);
            ASSERT_LT(index, count);
        }
    }
}

TEST(HintedKnotSearch, FindsTheKnotUpperBoundFindsFromAnyHint) {
    std::mt19937 rng(21);
    for (int32_t count = 1; count <= 70; ++count) {
        for (int trial = 0; trial < 4; ++trial) {
            std::vector<float> times(static_cast<size_t>(count));
            std::vector<uint16_t> quantised(static_cast<size_t>(count));
            uint16_t at = uint16_t(rng() % 3);
            for (int32_t i = 0; i < count; ++i) {
                at = uint16_t(at + rng() % 3);  // steps of 0 to 2: repeats and close knots
                quantised[size_t(i)] = at;
                times[size_t(i)] = 0.5f * float(at);
            }
            for (int32_t key = -2; key <= int32_t(at) + 2; ++key) {
                const float t = 0.5f * float(key) + 0.25f;
                const int32_t wantTime = Reference(times, t);
                const int32_t wantKey = Reference(quantised, key);
                EXPECT_EQ(orvane::SearchKnots(times.data(), count, t, nullptr), wantTime);
                for (int32_t hint = -1; hint <= count + 1; ++hint) {
                    int32_t h = hint;
                    ASSERT_EQ(orvane::SearchKnots(times.data(), count, t, &h), wantTime)
                        << "count " << count << ", hint " << hint << ", time " << t;
                    EXPECT_EQ(h, wantTime);
                    h = hint;
                    ASSERT_EQ(orvane::SearchKnots(quantised.data(), count, key, &h), wantKey)
                        << "count " << count << ", hint " << hint << ", key " << key;
                }
            }
        }
    }
}

// Searches without a hint start from where the key would lie on evenly spaced knots: knots in
// clusters with long gaps between put that guess many knots off, on either side.
TEST(HintedKnotSearch, GuessesFarFromTheKnotStillFindIt) {
    std::mt19937 rng(23);
    for (int32_t count = 1; count <= 90; ++count) {
        for (int trial = 0; trial < 6; ++trial) {
            std::vector<float> times(static_cast<size_t>(count));
            std::vector<uint16_t> quantised(static_cast<size_t>(count));
            uint32_t at = rng() % 4;
            for (int32_t i = 0; i < count; ++i) {
                at += rng() % 6 == 0 ? 100 + rng() % 400 : rng() % 2;
                quantised[size_t(i)] = uint16_t(at < 65535 ? at : 65535);
                times[size_t(i)] = 0.25f * float(quantised[size_t(i)]);
            }
            // Keys at, around and between the knots, and past both ends.
            std::vector<int32_t> keys = {-2, -1, int32_t(quantised.back()) + 1,
                                         int32_t(quantised.back()) + 2};
            for (int32_t i = 0; i < count; ++i) {
                const int32_t q = quantised[size_t(i)];
                keys.insert(keys.end(), {q - 1, q, q + 1});
                if (i + 1 < count) keys.push_back((q + int32_t(quantised[size_t(i) + 1])) / 2);
            }
            for (const int32_t key : keys) {
                const float t = 0.25f * float(key) + 0.125f;
                const int32_t wantTime = Reference(times, t);
                const int32_t wantKey = Reference(quantised, key);
                ASSERT_EQ(orvane::GuessUpperBoundKnot(times.data(), count, t), wantTime)
                    << "count " << count << ", time " << t;
                ASSERT_EQ(orvane::GuessUpperBoundKnot(quantised.data(), count, key), wantKey)
                    << "count " << count << ", key " << key;
                int32_t h = -1;
                ASSERT_EQ(orvane::SearchKnots(quantised.data(), count, key, &h), wantKey);
            }
            EXPECT_EQ(orvane::GuessUpperBoundKnot(times.data(), count, std::nanf("")), count - 1);
        }
    }
}

TEST(HintedKnotSearch, InfiniteKnotsLeaveTheGuessInRange) {
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<std::vector<float>> cases = {{-inf, 0.0f, 1.0f, 2.0f, 3.0f},
                                                   {0.0f, 1.0f, 2.0f, 3.0f, inf},
                                                   {-inf, 0.0f, 1.0f, 2.0f, inf},
                                                   {-inf, -inf, 0.0f, inf, inf}};
    for (const auto& knots : cases)
        for (float t : {-inf, -1.0f, 0.0f, 0.5f, 2.5f, 3.0f, 1e30f, inf})
            EXPECT_EQ(orvane::GuessUpperBoundKnot(knots.data(), int32_t(knots.size()), t),
                      Reference(knots, t))
                << t;
}

TEST(HintedKnotSearch, KnotsOutOfOrderStayInRange) {
    std::mt19937 rng(22);
    for (int32_t count = 1; count <= 40; ++count) {
        std::vector<uint16_t> knots(static_cast<size_t>(count));
        for (auto& k : knots)
            k = uint16_t(rng() % 50);
        for (int32_t key = -1; key <= 51; ++key)
            for (int32_t hint = -1; hint <= count; ++hint) {
                int32_t h = hint;
                const int32_t index = orvane::SearchKnots(knots.data(), count, key, &h);
                ASSERT_GE(index, 0);
                ASSERT_LT(index, count);
                const int32_t guessed = orvane::GuessUpperBoundKnot(knots.data(), count, key);
                ASSERT_GE(guessed, 0);
                ASSERT_LT(guessed, count);
            }
    }
}

}  // namespace
