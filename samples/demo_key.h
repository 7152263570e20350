// The public key of the demo key that signs the sample images. Only the
// demo and simulated controllers trust it.
#pragma once

namespace tarvik {

extern const char* const kDemoTrustedKey;

}  // namespace tarvik
