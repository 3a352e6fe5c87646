#include "platform/SerialSettings.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(SerialSettings, ParsesKeyValueText) {
    SerialSettings s;
    s.baudRate = 1;
    ASSERT_TRUE(ParseSettingsText("baud=115200 parity=E data=7 stop=2", s));
    EXPECT_EQ(s.baudRate, 115200u);
    EXPECT_EQ(s.parity, Parity::Even);
    EXPECT_EQ(s.byteSize, 7);
    EXPECT_EQ(s.stopBits, StopBits::Two);
    ASSERT_TRUE(ParseSettingsText("xon=on octs=on rts=hs dtr=off stop=1.5", s));
    EXPECT_TRUE(s.fOutX && s.fInX && s.fOutxCtsFlow);
    EXPECT_EQ(s.fRtsControl, LineControl::Handshake);
    EXPECT_EQ(s.fDtrControl, LineControl::Disable);
    EXPECT_EQ(s.stopBits, StopBits::OneAndHalf);
    EXPECT_EQ(s.baudRate, 115200u) << "fields not named are kept";
}

TEST(SerialSettings, ParsesShortForm) {
    SerialSettings s;
    ASSERT_TRUE(ParseSettingsText("COM2:19200,o,8,1", s));
    EXPECT_EQ(s.baudRate, 19200u);
    EXPECT_EQ(s.parity, Parity::Odd);
    EXPECT_EQ(FormatSettingsText(s), "baud=19200 parity=O data=8 stop=1");
}

TEST(SerialSettings, RejectsBadTextAndKeepsSettings) {
    SerialSettings s;
    const SerialSettings before = s;
    for (const char* bad : {"", "baud=", "baud=fast", "parity=Q", "data=9", "stop=3", "speed=9600",
                            "baud=99999999999", "9600,n,4,1", "=5"}) {
        EXPECT_FALSE(ParseSettingsText(bad, s)) << bad;
        EXPECT_EQ(s, before) << bad;
    }
}
