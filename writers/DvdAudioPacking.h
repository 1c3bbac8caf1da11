#pragma once

#include <cstdint>
#include <string>

// After libavformat's DVD multiplexer has written a file: moves AC-3 bytes between the file's
// audio packs so that no AC-3 frame starts in the last few bytes of a pack's payload.
//
// Why: the DVD multiplexer fills every audio pack to the brim, so every few seconds an AC-3 frame
// begins within the last 1..6 bytes of a pack and its 7-byte header is split across two packs. The
// stream is valid, but libavformat's demultiplexer (and every player built on it) then gives that
// frame the next pack's time stamp, so the audio time stamps repeat once and audio goes out of step
// by a frame. Such a frame is moved wholly into the next pack: the first pack ends with header
// stuffing instead, and the next few packs regain the bytes by leaving out their optional stuffing
// byte. Pack count, pack sizes and every other stream's bytes stay as they are.
//
// path: a closed program stream with 2048-byte packs whose AC-3 audio is in private stream 1.
// ticksPerFrame: one AC-3 frame in 90 kHz units (1536 samples at the stream's rate: 2880 at
// 48 kHz). A file whose layout is not the expected one is left untouched. Returns false, with the
// system's text in error, only when reading or writing the file fails (the file is then unusable).
bool MendDvdAudioPacks(const std::string& path, int64_t ticksPerFrame, std::string* error);
