#include "memops/FieldChecks.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "MemopsTestSupport.h"

using namespace memops;
using ::testing::ElementsAre;

TEST(FieldChecks, IntegerFieldsAsTheFrameworkChecksThem) {
    struct Case {
        const char* text;
        IntegerKind kind;
        long long min, max;
        bool ok;
        long long value;  // when ok
        const char* box;  // when refused
    };
    const Case cases[] = {
        {" 42 ", IntegerKind::Unsigned, 1, 100, true, 42, ""},
        {"+7", IntegerKind::Signed, 1, 255, true, 7, ""},
        {"-3", IntegerKind::Signed, -5, 5, true, -3, ""},
        {"-1", IntegerKind::Unsigned, 1, 100, false, 0, "Please enter a positive integer."},
        {"", IntegerKind::Unsigned, 1, 100, false, 0, "Please enter a positive integer."},
        {"12a", IntegerKind::Signed, 1, 255, false, 0, "Please enter an integer."},
        {"0x10", IntegerKind::Signed, 1, 255, false, 0, "Please enter an integer."},
        {"16", IntegerKind::Unsigned, 32, 8192, false, 0,
         "Please enter an integer between 32 and 8192."},
        {"99999999999999999999", IntegerKind::Unsigned, 60, 10000000, false, 0,
         "Please enter an integer between 60 and 10000000."},
    };
    for (const Case& c : cases) {
        zimptest::MessageCapture boxes;
        long long v = -99;
        EXPECT_EQ(CheckIntegerField(c.text, c.kind, c.min, c.max, v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.text;
            EXPECT_TRUE(boxes.Texts().empty()) << c.text;
        } else {
            EXPECT_EQ(v, -99) << c.text;
            EXPECT_THAT(boxes.Texts(), ElementsAre(c.box)) << c.text;
        }
    }
}
