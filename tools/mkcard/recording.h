#pragma once
// Plans the recordings of a sample card and assembles each one as the camera
// writes it: a plain front file and rear file for a folder card, or one file
// with both channels for the card partition.

#include "mkcard/avi_writer.h"
#include "mkcard/drive_model.h"
#include "mkcard/media_encoder.h"

#include <cstdint>
#include <string>
#include <vector>

namespace mkcard {

struct CardSettings {
    int perKind = 2;
    double seconds = 10.0;
    int width = 1280;
    int height = 720;
    int fps = 30;
    int rearWidth = 0;  // 0: the front's size
    int rearHeight = 0;
    // Camera-like pictures: B-frames and a real camera's bitrate (x264
    // veryfast, 12 Mbit/s at 1080p, scaled by area) instead of the light,
    // B-frame-free default that keeps tests fast.
    bool cameraEncoding = false;
    AudioCodec audio = AudioCodec::Aac;
    int channels = 2;
    int unfinished = 0;
    int64_t startLocal = 1330957353; // 2012-03-05 14:22:33 on the camera clock, read as UTC fields
    uint64_t seed = 1;
};

inline constexpr int kSampleRate = 16000;   // Hz, mono
inline constexpr int kUtcOffsetHours = 9;   // camera clock ahead of the GPS (UTC) clock

struct RecordingPlan {
    DriveKind kind = DriveKind::Normal;
    char letter = 'N';       // N, E, P or M in the file name
    std::string folder;      // NOR, EVT, MOT or MAN
    int indexInKind = 0;
    int globalIndex = 0;
    int64_t startLocal = 0;  // camera clock of the front file
    int rearOffset = 0;      // seconds from the front file's name to the rear file's (0 to 3)
    bool twoChannels = true;
    bool unfinished = false;
    SensorFormat format = SensorFormat::M8;
    int frames = 0;
};

std::vector<RecordingPlan> planRecordings(const CardSettings &settings);

// "N_20120305_142233_2CH_F.avi", the rear "..._R.avi" with its own second, and
// the card partition's "N_20120305_142233_2CH_F.tavo".
std::string plainName(const RecordingPlan &plan, char camera);
std::string cardName(const RecordingPlan &plan);

// "YYYY-MM-DD HH:MM:SS" of camera-clock seconds.
std::string clockText(int64_t local);
// The moment of a camera-clock time, in seconds since 1970 UTC.
inline int64_t unixTimeOf(int64_t local) { return local - kUtcOffsetHours * 3600; }

// Everything encoded for one recording; the files are assembled from it.
struct RecordingMedia {
    std::vector<EncodedPacket> front;
    std::vector<EncodedPacket> rear; // empty for one channel
    AudioTrack audio;
    DriveTrack drive;
    Bytes modelRecord;   // "QXMS" record: camera model and serial
    Bytes journalRecord; // "QXDJ" record: driver and journal data
};

bool produceMedia(const RecordingPlan &plan, const CardSettings &settings, RecordingMedia &media, std::string *error);

Bytes buildFrontFile(const RecordingPlan &plan, const CardSettings &settings, const RecordingMedia &media);
Bytes buildRearFile(const RecordingPlan &plan, const CardSettings &settings, const RecordingMedia &media);
Bytes buildCardFile(const RecordingPlan &plan, const CardSettings &settings, const RecordingMedia &media);

// A private record: tag, 16-bit length L, two reserved bytes, L bytes.
Bytes privateRecord(const char tag[4], const std::string &data);

} // namespace mkcard
