#pragma once
// A tar stream read through a guard while its headers are parsed.
//
// tarfile reads a pax record or a GNU long name whole, in one read of the
// size that its raw 512-byte header declares, before any check can see the
// member: a 300 KB archive can make it allocate gigabytes. While `armed`,
// the reads that parsing one member takes (its header blocks and extended
// records; member data is skipped, not read) are bounded together by
// kMaxHeaderBytes and refused with ValueError before they happen. Disarm
// before reading member data.
#include "common/nb.hpp"

#include <cstdint>
#include <memory>

namespace quend::ingrath {

inline constexpr std::uint64_t kMaxHeaderBytes = std::uint64_t(1) << 20;

struct HeaderBudget {
    bool armed = true;
    std::uint64_t used = 0;  // bytes read since the last reset, while armed
};

struct TarStream {
    nb::object reader;  // read/seek/tell over `stream`, for tarfile.open(fileobj=...)
    std::shared_ptr<HeaderBudget> headers;
};

TarStream guarded_tar_stream(nb::object stream);

}  // namespace quend::ingrath
