#include "host/standin/host_state.h"

namespace cv::standin {

iplug::HostStateRecord truncated(iplug::HostStateRecord record, std::size_t bytes) {
    if (bytes < record.data.size())
        record.data.resize(bytes);
    return record;
}

iplug::HostStateRecord bitFlipped(iplug::HostStateRecord record, std::size_t bit) {
    if (bit / 8 < record.data.size())
        record.data[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
    return record;
}

iplug::HostStateRecord oversized(iplug::HostStateRecord record, std::size_t extraBytes) {
    record.data.insert(record.data.end(), extraBytes, std::uint8_t{0xA5});
    return record;
}

} // namespace cv::standin
