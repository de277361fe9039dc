#include "testcam/config.h"

#include <gtest/gtest.h>

#include <tuple>
#include <utility>

using namespace testcam;

namespace {

Format Parse1(const wchar_t* text) {
    std::vector<Format> formats;
    EXPECT_TRUE(ParseFormats(text, formats)) << text;
    return formats.empty() ? Format() : formats.front();
}

} // namespace

TEST(ConfigFormats, ParsesSubtypeSizeAndRate) {
    Format f = Parse1(L"YUY2:640x480@30");
    EXPECT_EQ(Subtype::YUY2, f.subtype);
    EXPECT_EQ(640, f.width);
    EXPECT_EQ(480, f.height);
    EXPECT_EQ(333333, f.frameTime);
    EXPECT_FALSE(f.videoInfo2);
}

TEST(ConfigFormats, FractionalAndZeroRates) {
    EXPECT_EQ(333667, Parse1(L"RGB24:320x240@29.97").frameTime);
    EXPECT_EQ(0, Parse1(L"RGB24:320x240@0").frameTime);
    EXPECT_EQ(400000, Parse1(L"rgb32:320x240@25").frameTime);
}

TEST(ConfigFormats, VideoInfo2Marker) {
    EXPECT_TRUE(Parse1(L"RGB24:320x240@15:vih2").videoInfo2);
}

TEST(ConfigFormats, ListKeepsOrderAndSpacing) {
    std::vector<Format> formats;
    ASSERT_TRUE(ParseFormats(L"YUY2:160x120@30, RGB24:1920x1080@15", formats));
    ASSERT_EQ(2u, formats.size());
    EXPECT_EQ(Subtype::YUY2, formats[0].subtype);
    EXPECT_EQ(1920, formats[1].width);
    EXPECT_EQ(666667, formats[1].frameTime);
}

TEST(ConfigFormats, RejectsMalformedEntriesAndKeepsOutput) {
    const wchar_t* bad[] = {L"",
                            L"YUY2",
                            L"NV12:640x481@30",
                            L"YUY2:641x480@30",
                            L"RGB24:0x480@30",
                            L"RGB24:640x480",
                            L"RGB24:640x480@",
                            L"RGB24:640x480@fast",
                            L"RGB24:640x480@5000",
                            L"RGB24:640x480@30:vih3",
                            L"RGB24:640*480@30",
                            L"RGB24:99999x480@30",
                            L"RGB24:640x480@30,"};
    for (const wchar_t* text : bad) {
        std::vector<Format> formats(1);
        EXPECT_FALSE(ParseFormats(text, formats)) << text;
        EXPECT_EQ(1u, formats.size()) << text;
    }
}

TEST(ConfigFormats, WrittenListParsesBackToTheSameFormats) {
    std::vector<Format> formats;
    ASSERT_TRUE(ParseFormats(L"YUY2:160x120@30,RGB24:320x240@15:vih2,RGB32:64x48@0", formats));
    std::vector<Format> again;
    ASSERT_TRUE(ParseFormats(FormatsToString(formats), again));
    EXPECT_TRUE(formats == again);
}

TEST(ConfigSizes, RowsArePaddedToWholeDwords) {
    Format f = Parse1(L"RGB24:161x10@30");
    EXPECT_EQ(484u, Stride(f));
    EXPECT_EQ(4840u, ImageSize(f));
    EXPECT_EQ(320u, Stride(Parse1(L"YUY2:160x10@30")));
    EXPECT_EQ(644u, Stride(Parse1(L"RGB32:161x10@30")));
}

TEST(ConfigSizes, BitRateFollowsSizeDepthAndRate) {
    EXPECT_EQ(221184000u, BitRate(Parse1(L"RGB24:640x480@30")));
    EXPECT_EQ(995328000u, BitRate(Parse1(L"YUY2:1920x1080@30")));
    // Beyond what a LONG holds, still exact in the DWORD.
    EXPECT_EQ(3981312000u, BitRate(Parse1(L"RGB32:1920x1080@60")));
    EXPECT_EQ(0xFFFFFFFFu, BitRate(Parse1(L"RGB32:4096x4096@1000")));
    EXPECT_EQ(0u, BitRate(Parse1(L"RGB24:640x480@0")));
}

TEST(ConfigSizes, NoFrameTimeStillStreamsAtThirtyFramesPerSecond) {
    EXPECT_EQ(333333, DeliveryInterval(Parse1(L"RGB24:640x480@0")));
    EXPECT_EQ(666667, DeliveryInterval(Parse1(L"RGB24:640x480@15")));
}

TEST(ConfigDefault, OffersAnOrdinaryWebcamsRange) {
    Config config = DefaultConfig();
    ASSERT_GE(config.formats.size(), 6u);
    bool subtypes[3] = {};
    LONG minWidth = 100000, maxWidth = 0;
    std::vector<LONGLONG> rates;
    for (const Format& f : config.formats) {
        subtypes[static_cast<int>(f.subtype)] = true;
        minWidth = std::min(minWidth, f.width);
        maxWidth = std::max(maxWidth, f.width);
        rates.push_back(f.frameTime);
        EXPECT_FALSE(f.videoInfo2);
        EXPECT_GT(f.frameTime, 0);
        EXPECT_LT(BitRate(f), 0x80000000u);
    }
    EXPECT_TRUE(subtypes[0] && subtypes[1] && subtypes[2]);
    EXPECT_EQ(160, minWidth);
    EXPECT_EQ(1920, maxWidth);
    std::sort(rates.begin(), rates.end());
    EXPECT_GE(std::unique(rates.begin(), rates.end()) - rates.begin(), 3);
    // The first two differ only in subtype.
    Format second = config.formats[1];
    second.subtype = config.formats[0].subtype;
    EXPECT_NE(config.formats[0].subtype, config.formats[1].subtype);
    EXPECT_TRUE(second == config.formats[0]);
    EXPECT_TRUE(config.streamConfig);
    EXPECT_EQ(128, config.capsSize);
    EXPECT_FALSE(config.previewPin);
    EXPECT_FALSE(config.stuckRun);
}

TEST(ConfigOptions, EachQuirkIsNamed) {
    Config config;
    ASSERT_TRUE(ParseOptions(L"nostreamconfig, capssize=64,previewpin,StuckRun", config));
    EXPECT_FALSE(config.streamConfig);
    EXPECT_EQ(64, config.capsSize);
    EXPECT_TRUE(config.previewPin);
    EXPECT_TRUE(config.stuckRun);
    EXPECT_FALSE(config.oneStream);
    Config oneStream;
    ASSERT_TRUE(ParseOptions(L"onestream", oneStream));
    EXPECT_TRUE(oneStream.previewPin && oneStream.oneStream) << "a preview pin, one at a time";

    // Each fault lands in its own field and no other: real interval, black, frozen, short,
    // refused index, stop after, stall after, unplug after.
    using Faults = std::tuple<LONGLONG, long, long, long, long, long, long, long>;
    const std::pair<const wchar_t*, Faults> rows[] = {
        {L"RealFps=12.5", Faults{800000, 0, 0, 0, -1, 0, 0, 0}},
        {L"black=1,frozen=2", Faults{0, 1, 2, 0, -1, 0, 0, 0}},
        {L"short=7, refuse=14,stopafter=40", Faults{0, 0, 0, 7, 14, 40, 0, 0}},
        {L"StallAfter=25", Faults{0, 0, 0, 0, -1, 0, 25, 0}},
        {L"unplugafter=9", Faults{0, 0, 0, 0, -1, 0, 0, 9}},
        {L"refuse=0", Faults{0, 0, 0, 0, 0, 0, 0, 0}}};
    for (const auto& row : rows) {
        Config c = DefaultConfig();
        ASSERT_TRUE(ParseOptions(row.first, c)) << row.first;
        EXPECT_EQ(row.second, Faults(c.realInterval, c.blackEvery, c.frozenRepeat, c.shortEvery,
                                     c.refusedFormat, c.stopAfter, c.stallAfter, c.unplugAfter))
            << row.first;
    }
}

TEST(ConfigOptions, RejectsUnknownOrMalformedAndKeepsConfig) {
    // The default camera has 15 formats: index 15 is past them.
    for (const wchar_t* text :
         {L"nostream", L"capssize=0", L"capssize=", L"capssize=12x", L"realfps=0", L"realfps=-5",
          L"black", L"black=0", L"black=1.5", L"frozen=1", L"short=x", L"refuse=15", L"refuse=-1",
          L"stopafter=0", L"stallafter=0", L"stallafter=x", L"unplugafter=0",
          L"black=2,frozen=1"}) {
        Config config = DefaultConfig();
        EXPECT_FALSE(ParseOptions(text, config)) << text;
        EXPECT_EQ(128, config.capsSize) << text;
        EXPECT_EQ(0, config.blackEvery) << text;
    }
}

TEST(ConfigInstall, BareTextIsTheName) {
    InstallRequest request;
    ASSERT_TRUE(ParseInstallRequest(L" Demo Camera ", request));
    EXPECT_EQ(L"Demo Camera", request.name);
    EXPECT_TRUE(request.formats.empty());
    ASSERT_TRUE(ParseInstallRequest(L"", request));
    EXPECT_EQ(L"Lookwell Test Camera", request.name);
}

TEST(ConfigInstall, NamedFields) {
    InstallRequest request;
    ASSERT_TRUE(
        ParseInstallRequest(L"name=Second;formats=RGB24:320x240@15;options=previewpin", request));
    EXPECT_EQ(L"Second", request.name);
    EXPECT_EQ(L"RGB24:320x240@15", request.formats);
    EXPECT_EQ(L"previewpin", request.options);
}

TEST(ConfigInstall, RejectsWhatCouldNotBeStreamedOrStored) {
    InstallRequest request;
    EXPECT_FALSE(ParseInstallRequest(L"name=A;formats=RGB24:320x240", request));
    EXPECT_FALSE(ParseInstallRequest(L"name=A;options=fast", request));
    // A refused format is one of the camera's own.
    EXPECT_FALSE(ParseInstallRequest(L"name=A;formats=RGB24:320x240@15;options=refuse=1", request));
    EXPECT_TRUE(ParseInstallRequest(L"name=A;formats=RGB24:320x240@15;options=refuse=0", request));
    EXPECT_FALSE(ParseInstallRequest(L"name=A;colour=red", request));
    EXPECT_FALSE(ParseInstallRequest(L"name=A\\B", request));
}
