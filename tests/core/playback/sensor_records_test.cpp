#include "core/playback/sensor_records.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <clocale>

#include <cstring>
#include <string>
#include <thread>

namespace korvante {
namespace {

std::vector<SensorSample> samplesOf(const CQDRVTextData &data)
{
    std::vector<SensorSample> out;
    data.withSamples([&](const auto &list) { out.assign(list.begin(), list.end()); });
    return out;
}

std::vector<CQDRVGPSData> fixesOf(const CQDRVTextData &data)
{
    std::vector<CQDRVGPSData> out;
    data.withFixes([&](const auto &list) { out.assign(list.begin(), list.end()); });
    return out;
}

TEST(SensorRecords, EightBitCodesAndTenBitWordsDecodeAsTheCameraWritesThem)
{
    EXPECT_EQ(decodeAxisCode(0x05), 5);
    EXPECT_EQ(decodeAxisCode(0x85), 123);
    EXPECT_EQ(decodeAxisCode(0x80), 128);
    EXPECT_EQ(decodeAxisCode(0x00), 0);
    EXPECT_EQ(decodeAxisCode(0x7F), 127);
    EXPECT_EQ(decodeAxisWord(0x03FF), -511);
    EXPECT_EQ(decodeAxisWord(0x0000), 512);
    EXPECT_EQ(decodeAxisWord(0x0200), 0);
    EXPECT_EQ(decodeAxisWord(0xFC00), 512); // bits above the tenth are ignored
}

TEST(SensorRecords, DispatchAppendsOneRecordPerPacketKind)
{
    CQDRVTextData data;
    std::uint8_t m[1024] = {'M', 0x05, 0x85, 0x80};
    std::uint8_t s8[1024] = {'S', 0x08, 0x05, 0xAA, 0x85, 0xBB, 0x80, 0xCC}; // high bytes ignored
    std::uint8_t s10[1024] = {'S', 0x0A, 0xFF, 0x03, 0x00, 0x00, 0x00, 0x02};
    std::uint8_t odd[1024] = {'S', 0x07, 0x05, 0x00, 0x05, 0x00, 0x05, 0x00};
    std::uint8_t empty[1024] = {};
    std::uint8_t other[1024] = {'Q', 'X', 'M', 'S'};
    EXPECT_EQ(DispatchPacket(100, data, m), 0);
    DispatchPacket(200, data, s8);
    DispatchPacket(300, data, s10);
    DispatchPacket(400, data, odd);
    DispatchPacket(500, data, empty);
    DispatchPacket(600, data, other);
    const auto samples = samplesOf(data);
    ASSERT_EQ(samples.size(), 4u);
    EXPECT_EQ(samples[0].x, 5);
    EXPECT_EQ(samples[0].y, 123);
    EXPECT_EQ(samples[0].z, 128);
    EXPECT_EQ(samples[0].kind, 0);
    EXPECT_EQ(samples[0].timestamp, 100);
    EXPECT_EQ(samples[1].x, 5);
    EXPECT_EQ(samples[1].y, 123);
    EXPECT_EQ(samples[1].z, 128);
    EXPECT_EQ(samples[1].kind, 1);
    EXPECT_EQ(samples[1].timestamp, 200);
    EXPECT_EQ(samples[2].x, -511);
    EXPECT_EQ(samples[2].y, 512);
    EXPECT_EQ(samples[2].z, 0);
    EXPECT_EQ(samples[2].kind, 2);
    EXPECT_EQ(samples[2].timestamp, 300);
    // An unknown sub-type: a sample of zeros, kind 3.
    EXPECT_EQ(samples[3].x, 0);
    EXPECT_EQ(samples[3].timestamp, 0);
    EXPECT_EQ(samples[3].kind, 3);
    EXPECT_EQ(data.fixCount(), 0u);
}

const char *kSentence = "G,123456.00,A,3730.5000,N,12700.2500,E,10.0,90.5,061226";

TEST(SensorRecords, GpsSentenceFillsEveryField)
{
    CQDRVGPSData fix;
    EXPECT_TRUE(ParseGpsSentence(fix, 4321, kSentence));
    EXPECT_EQ(fix.hour, 21);
    EXPECT_EQ(fix.minute, 34);
    EXPECT_EQ(fix.second, 56);
    EXPECT_EQ(fix.valid, 1);
    EXPECT_DOUBLE_EQ(fix.latitude, 3730.5);
    EXPECT_DOUBLE_EQ(fix.longitude, 12700.25);
    EXPECT_DOUBLE_EQ(fix.speed, static_cast<double>(18.52f));
    EXPECT_DOUBLE_EQ(fix.course, 90.5);
    EXPECT_EQ(fix.day, 6);
    EXPECT_EQ(fix.month, 12);
    EXPECT_EQ(fix.year, 26);
    EXPECT_EQ(fix.timestamp, 4321);
}

TEST(SensorRecords, GpsHemispheresStatusAndShortSentences)
{
    CQDRVGPSData southWest;
    EXPECT_TRUE(ParseGpsSentence(southWest, 0, "G,123456.00,V,3730.5000,S,12700.2500,W,10.0,90.5,061226"));
    EXPECT_DOUBLE_EQ(southWest.latitude, -3730.5);
    EXPECT_DOUBLE_EQ(southWest.longitude, -12700.25);
    EXPECT_EQ(southWest.valid, 0);

    // Fewer than ten fields: what is there is filled, the rest stays 0.
    CQDRVGPSData shortFix;
    EXPECT_FALSE(ParseGpsSentence(shortFix, 7, "G,010203,A,3730.5000,N"));
    EXPECT_EQ(shortFix.hour, 10);
    EXPECT_EQ(shortFix.second, 3);
    EXPECT_DOUBLE_EQ(shortFix.latitude, 3730.5);
    EXPECT_DOUBLE_EQ(shortFix.longitude, 0);
    EXPECT_EQ(shortFix.year, 0);
    EXPECT_EQ(shortFix.timestamp, 7);

    // Leading commas are skipped; empty fields read as 0.
    CQDRVGPSData commas;
    EXPECT_TRUE(ParseGpsSentence(commas, 0, ",,G,,A,,N,,E,,,"));
    EXPECT_EQ(commas.hour, 9);
    EXPECT_EQ(commas.valid, 1);
    EXPECT_DOUBLE_EQ(commas.latitude, 0);

    CQDRVGPSData none;
    EXPECT_FALSE(ParseGpsSentence(none, 0, ""));
}

// The application object (made in main) switches the C library to the
// desktop's locale; a decimal-comma desktop must read the camera's numbers
// exactly as the C locale does.
TEST(SensorRecords, GpsNumbersReadTheSameUnderADecimalCommaLocale)
{
    ASSERT_NE(QCoreApplication::instance(), nullptr);
    struct RestoreLocale {
        std::string saved = std::setlocale(LC_ALL, nullptr);
        ~RestoreLocale() { std::setlocale(LC_ALL, saved.c_str()); }
    } restore;
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr)
        << "the de_DE.UTF-8 locale is missing (scripts/setup generates it)";
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");

    struct Case {
        const char *sentence;
        double latitude, longitude, speedKnots, course;
    };
    const Case cases[] = {
        {"G,123456.00,A,3730.5000,N,12700.2500,E,10.0,90.5,061226", 3730.5, 12700.25, 10.0, 90.5},
        {"G,000000,A,0000.0001,S,00000.9999,W,0.51,359.99,010100", -0.0001, -0.9999, 0.51, 359.99},
        {"G,235959,A, 4807.038,N,+01131.000,E,1.5e1,.5,311299", 4807.038, 1131.0, 15.0, 0.5},
        {"G,235959,A,12.5abc,N,7.25.5,E,x,-1.75,311299", 12.5, 7.25, 0.0, -1.75},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.sentence);
        CQDRVGPSData fix;
        EXPECT_TRUE(ParseGpsSentence(fix, 0, c.sentence));
        EXPECT_DOUBLE_EQ(fix.latitude, c.latitude);
        EXPECT_DOUBLE_EQ(fix.longitude, c.longitude);
        EXPECT_FLOAT_EQ(fix.speed, static_cast<float>(c.speedKnots * 1.852));
        EXPECT_FLOAT_EQ(fix.course, static_cast<float>(c.course));
    }
}

TEST(SensorRecords, GpsPacketIsAppendedWhateverTheParseAndNeverReadsPastTheBuffer)
{
    CQDRVTextData data;
    std::uint8_t packet[1024] = {};
    std::memcpy(packet, kSentence, std::strlen(kSentence));
    DispatchPacket(1000, data, packet);
    std::uint8_t broken[1024] = {'G', ',', '1'};
    DispatchPacket(2000, data, broken);
    // A packet without any zero byte: the sentence is cut at 1023 characters.
    std::uint8_t full[1024];
    std::memset(full, '7', sizeof full);
    full[0] = 'G';
    full[1] = ',';
    DispatchPacket(3000, data, full);
    const auto fixes = fixesOf(data);
    ASSERT_EQ(fixes.size(), 3u);
    EXPECT_EQ(fixes[0].minute, 34);
    EXPECT_EQ(fixes[0].timestamp, 1000);
    EXPECT_EQ(fixes[1].hour, 10);
    EXPECT_EQ(fixes[1].timestamp, 2000);
    EXPECT_EQ(fixes[2].timestamp, 3000);
}

TEST(SensorRecords, ListsKeepArrivalOrderWhileAWalkRunsBesideTheAppender)
{
    CQDRVTextData data;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i) {
            std::uint8_t m[1024] = {'M', 1, 2, 3};
            DispatchPacket(i, data, m);
        }
        done = true;
    });
    bool ordered = true;
    while (!done) {
        data.withSamples([&](const std::list<SensorSample> &list) {
            std::int32_t last = -1;
            for (const auto &s : list) {
                ordered = ordered && s.timestamp == last + 1;
                last = s.timestamp;
            }
        });
    }
    writer.join();
    EXPECT_TRUE(ordered);
    EXPECT_EQ(data.sampleCount(), 20000u);
    data.clearSamples();
    data.clearFixes();
    EXPECT_EQ(data.sampleCount(), 0u);
}

} // namespace
} // namespace korvante
