#pragma once

#include <kelnom/Message.hpp>
#include <kelnom/Sender.hpp>

namespace kelnod {

// Publishes the message on the broadcaster under its application id, the topic
// local subscribers filter on. A failure is reported, never raised.
void publish_locally(kelnom::Sender& broadcaster, const kelnom::Message& message);

}  // namespace kelnod
