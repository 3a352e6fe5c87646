#include "platform/SerialSettings.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(SerialSettings, ParsesKeyValueText) {
    SerialSettings s;
    s.baudRate = 1;
    ASSERT_TRUE(ParseSettingsText("baud=115200 parity=E data=7 stop=2", s));
    EXPECT_EQ(s.baudRate, 115200u);
    EXPECT_EQ(s.parity, Parity::Even);
    EXPECT_EQ(s.dataBits, 7);
    EXPECT_EQ(s.stopBits, StopBits::Two);
    ASSERT_TRUE(ParseSettingsText("xon=on octs=on rts=hs dtr=off stop=1.5", s));
    EXPECT_TRUE(s.xonXoffOutput && s.xonXoffInput && s.ctsOutputFlow);
    EXPECT_EQ(s.rtsControl, LineControl::Handshake);
    EXPECT_EQ(s.dtrControl, LineControl::Disable);
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

TEST(SerialSettings, EachWordOfAField) {
    struct Case {
        const char* text;
        Parity parity;
        StopBits stop;
        LineControl rts, dtr;
    };
    const Case cases[] = {
        {"parity=n stop=1 rts=on dtr=on", Parity::None, StopBits::One, LineControl::Enable,
         LineControl::Enable},
        {"parity=o stop=1.5 rts=off dtr=off", Parity::Odd, StopBits::OneAndHalf,
         LineControl::Disable, LineControl::Disable},
        {"parity=e stop=2 rts=hs dtr=hs", Parity::Even, StopBits::Two, LineControl::Handshake,
         LineControl::Handshake},
        {"parity=m rts=tg", Parity::Mark, StopBits::Two, LineControl::Toggle,
         LineControl::Handshake},
        {"parity=s", Parity::Space, StopBits::Two, LineControl::Toggle, LineControl::Handshake},
    };
    SerialSettings s;
    for (const Case& c : cases) {
        ASSERT_TRUE(ParseSettingsText(c.text, s)) << c.text;
        EXPECT_EQ(s.parity, c.parity) << c.text;
        EXPECT_EQ(s.stopBits, c.stop) << c.text;
        EXPECT_EQ(s.rtsControl, c.rts) << c.text;
        EXPECT_EQ(s.dtrControl, c.dtr) << c.text;
    }
    for (const char* bad : {"dtr=tg", "rts=x", "odsr=hs", "parity=none", "stop=1.0"})
        EXPECT_FALSE(ParseSettingsText(bad, s)) << bad;
}
