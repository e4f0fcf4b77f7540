#pragma once

#include <cstdint>
#include <string>

#include <kelnom/Payload.hpp>

// Makes the tester's documents. Each one carries the next count and the time
// it was made, so that no two documents are alike:
//   {"complex_obj":{"neg_count":-n,"time_travel":"<ctime>"},"count":n,"date_time":"<ctime>"}
// where time_travel lies 9125 days and n hours before date_time.
//
// The year-2038 limit: where time_t has 32 bits (Debian 12 armhf), a date
// later than 2038-01-19 03:14:07 UTC (or earlier than 1901-12-13 20:45:52)
// cannot be printed; the document then carries kBeyondTimeT in its place.
inline constexpr const char* kBeyondTimeT = "(beyond the range of a 32-bit time_t)\n";

// The text of ctime(), "Www Mmm dd hh:mm:ss yyyy\n" in local time, of a count
// of seconds since the epoch; kBeyondTimeT when time_t cannot hold it.
// Thread-safe (ctime_r): the tester makes its documents on a thread of its own.
std::string ctime_text(std::int64_t seconds);

class Payloader {
public:
    // The next document as a compact JSON payload of type "JSON".
    kelnom::Payload create_payload();

private:
    std::int32_t count = 0;
};
