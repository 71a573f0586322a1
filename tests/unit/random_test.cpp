// Random numbers: the seeded sequence scripts see, the uniform integers and
// floats drawn from it, and the secure source.
#include <gtest/gtest.h>

#include <climits>
#include <set>

#include "runtime/random.h"

using namespace vyr;

// Outputs 1, 2, 3, 624, 625, 626, 1248 and 1249 after seeding. The generator
// is MT19937 with signed words and arithmetic right shifts, so these are not
// the textbook values: they come from an independent model of it, whose
// logical-shift form reproduces the textbook MT19937 outputs for seed 5489.
// The first output is the tempered seed word itself (no regeneration before
// it); outputs 625 on come after the first regeneration.
TEST(RandomTest, SeededSequence) {
    struct Case {
        int32_t seed;
        uint32_t outputs[8];
    } cases[] = {
        {19650218, {0x5DC3A4A0, 0x7A771224, 0x3D2E6742, 0x2E79D827, 0x11D6F7E3, 0x5C3F44EA, 0x338C0957, 0x086CD42C}},
        {5489, {0x02C80541, 0x49390B45, 0x589C168C, 0x3B4A61F6, 0x01E10FFC, 0x575827FE, 0x45112FF2, 0x18089C54}},
        {-1, {0x00000000, 0x00400091, 0x4CCC58A5, 0x16C8BB4E, 0x420F767D, 0x54AE09FF, 0x012649C1, 0x58F5891E}},
        {INT32_MAX, {0x180FF9FC, 0x5B8811C8, 0x574A9FBD, 0x52EACC95, 0x32F76F2A, 0x0D67CF46, 0x59846958, 0x3FD5AACC}},
        {INT32_MIN, {0x180FF9FC, 0x5B8811C8, 0x574A9FBD, 0x52EACC95, 0x6EF087D4, 0x0D67CF46, 0x79806159, 0x63D24232}},
    };
    const int picks[] = {0, 1, 2, 623, 624, 625, 1247, 1248};
    for (const Case& c : cases) {
        random::Twister t(c.seed);
        int p = 0;
        for (int i = 0; i <= 1248; i++) {
            int32_t v = t.next();
            ASSERT_GE(v, 0) << "seed " << c.seed << " output " << i;  // top bit always clear
            if (i == picks[p]) {
                EXPECT_EQ(uint32_t(v), c.outputs[p++]) << "seed " << c.seed << " output " << i;
            }
        }
    }
}

TEST(RandomTest, StartSeedAndReseeding) {
    random::random_init();
    EXPECT_EQ(random::random_next(), 0x5DC3A4A0);
    int32_t first[5];
    random::random_seed(42);
    for (int32_t& v : first) v = random::random_next();
    random::random_seed(42);
    for (int32_t v : first) EXPECT_EQ(random::random_next(), v);
}

// The integers random-int answers for seed 12345, taken from the same model:
// 0x40000001 rejects about half the draws, INT32_MIN answers -1 - r.
TEST(RandomTest, UniformIntegersFromTheSequence) {
    random::random_seed(12345);
    const int32_t ns[] = {6, 6, 6, -3, 1, 0x40000001, INT32_MAX, INT32_MIN, 1000000, 2};
    const int32_t expect[] = {3, 6, 2, -1, 1, 877906779, 1043790796, -2135847834, 695798, 1};
    for (int i = 0; i < 10; i++) EXPECT_EQ(random::random_int(false, ns[i]), expect[i]) << ns[i];
}

TEST(RandomTest, UniformIntegerRanges) {
    random::random_seed(7);
    int32_t fresh = random::random_next();
    random::random_seed(7);
    EXPECT_EQ(random::random_int(false, 0), 0);
    EXPECT_EQ(random::random_next(), fresh);  // 0 draws nothing

    std::set<int32_t> seen_neg, seen_six;
    for (int i = 0; i < 600; i++) {
        EXPECT_EQ(random::random_int(false, 1), 1);
        int32_t v = random::random_int(false, -3);
        ASSERT_TRUE(v >= -3 && v <= -1) << v;
        seen_neg.insert(v);
        int32_t w = random::random_int(false, INT32_MIN);
        ASSERT_TRUE(w < 0) << w;
        seen_six.insert(random::random_int(false, 6));
    }
    EXPECT_EQ(seen_neg.size(), 3u);
    EXPECT_EQ(seen_six, (std::set<int32_t>{1, 2, 3, 4, 5, 6}));
}

TEST(RandomTest, FloatsScaleOneDraw) {
    random::random_seed(12345);  // first output 0x034E266C
    EXPECT_EQ(random::random_float(10.0, false), 0.25822451350196474);
    random::random_seed(12345);
    EXPECT_EQ(random::random_float(-2.5, false), -0.06455612837549118);
    for (int i = 0; i < 200; i++) {
        double s = random::random_float(3.0, true);
        ASSERT_TRUE(s >= 0.0 && s < 3.0) << s;
    }
}

TEST(RandomTest, SecureDrawsComeFromTheKernel) {
    // The secure source leaves the seeded sequence where it was.
    random::random_seed(99);
    int32_t expect = random::random_next();
    random::random_seed(99);
    std::set<int32_t> draws, faces;
    for (int i = 0; i < 600; i++) {
        int32_t r = random::random_secure();
        ASSERT_GE(r, 0);
        draws.insert(r);
        int32_t f = random::random_int(true, 6);
        ASSERT_TRUE(f >= 1 && f <= 6) << f;
        faces.insert(f);
    }
    EXPECT_GT(draws.size(), 590u);
    EXPECT_EQ(faces.size(), 6u);
    EXPECT_EQ(random::random_next(), expect);
}
