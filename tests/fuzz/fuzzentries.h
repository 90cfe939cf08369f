#pragma once
#include <cstddef>
#include <cstdint>

// The fuzz entry functions for the pure reply parsers and MIME decoding.
// Each checks the parser's promises on one input and aborts when one is
// broken, so that libFuzzer (scripts/fuzz.sh) reports it and the replay
// test fails on it.
int FuzzSmtpReply(const uint8_t *data, size_t size);
int FuzzPopStatus(const uint8_t *data, size_t size);
int FuzzPopRetr(const uint8_t *data, size_t size);
int FuzzMimeBody(const uint8_t *data, size_t size);

struct FuzzTarget {
    const char *name; // also the corpus folder: tests/fuzz/corpus/<name>
    int (*entry)(const uint8_t *, size_t);
};
inline constexpr FuzzTarget kFuzzTargets[] = {
    {"smtp_reply", FuzzSmtpReply},
    {"pop_status", FuzzPopStatus},
    {"pop_retr", FuzzPopRetr},
    {"mime_body", FuzzMimeBody},
};

// Named in the failure message; the replay test sets it to the file.
extern const char *g_fuzzInput;

[[noreturn]] void FuzzFailed(const char *check, const char *file, int line);
#define FUZZ_CHECK(condition)                                   \
    do {                                                        \
        if (!(condition))                                       \
            FuzzFailed(#condition, __FILE__, __LINE__);         \
    } while (0)
