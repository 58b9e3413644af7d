#pragma once

#include <cstdint>

// Offsets and sizes of the fixed fields of a bext chunk body (version 1),
// in bytes from the body's first byte. The coding history follows them.
namespace BextFields {

constexpr uint32_t kDescriptionOffset = 0;
constexpr uint32_t kDescriptionBytes = 256;
constexpr uint32_t kDescriptionMaxTextBytes = kDescriptionBytes - 1;  // the last byte stays NUL
constexpr uint32_t kOriginatorOffset = 256;
constexpr uint32_t kOriginatorBytes = 32;
constexpr uint32_t kOriginatorReferenceOffset = 288;
constexpr uint32_t kOriginatorReferenceBytes = 32;
constexpr uint32_t kOriginationDateOffset = 320;
constexpr uint32_t kOriginationDateBytes = 10;
constexpr uint32_t kOriginationTimeOffset = 330;
constexpr uint32_t kOriginationTimeBytes = 8;
constexpr uint32_t kTimeReferenceOffset = 338;  // low 32 bits, then high 32 bits
constexpr uint32_t kTimeReferenceBytes = 8;
constexpr uint32_t kVersionOffset = 346;
constexpr uint32_t kUmidOffset = 348;
constexpr uint32_t kUmidBytes = 64;
constexpr uint32_t kReservedOffset = 412;
constexpr uint32_t kFixedBytes = 602;  // where the coding history starts

static_assert(kOriginatorOffset == kDescriptionOffset + kDescriptionBytes);
static_assert(kOriginatorReferenceOffset == kOriginatorOffset + kOriginatorBytes);
static_assert(kOriginationDateOffset == kOriginatorReferenceOffset + kOriginatorReferenceBytes);
static_assert(kOriginationTimeOffset == kOriginationDateOffset + kOriginationDateBytes);
static_assert(kTimeReferenceOffset == kOriginationTimeOffset + kOriginationTimeBytes);
static_assert(kVersionOffset == kTimeReferenceOffset + kTimeReferenceBytes);
static_assert(kUmidOffset == kVersionOffset + 2);
static_assert(kReservedOffset == kUmidOffset + kUmidBytes);
static_assert(kFixedBytes == kReservedOffset + 190);

// A time reference above this (about 4.6 days at 48 kHz) is not a time of day.
constexpr uint64_t kMaxTimeReference = 20'000'000'000ull;

} // namespace BextFields
