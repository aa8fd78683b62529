// Obtaining and releasing the host services that live from Initialize to Uninitialize.
#pragma once

#include "quorrin/host_services.h"

namespace quorrin {

// Stores provider in its slot with a reference taken; a provider kept before is released.
void keep_service_provider(IHostServiceProvider* provider);
// Report, asynchronous event and transfer statistics services straight into their slots, then the
// peer network and ping services through a second QueryInterface. Results are not tested.
void obtain_kept_services();
// Asynchronous event, transfer statistics, provider, report, peer network, ping: each set slot
// is released and cleared.
void release_kept_services();

}  // namespace quorrin
