#pragma once

#include "stat/speed_point.h"

namespace quorrin {

class vq_data;

// The point's seven integers, then its "ping_cdn_list" object, into target (already named).
void write_speed_point(const speed_point& point, vq_data& target);

}  // namespace quorrin
