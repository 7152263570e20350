#include "web/web_clock.h"

#include <emscripten.h>

// It runs on the thread that calls it, the page's or a worker's.
EM_JS(double, tarvik_epoch_us, (), { return (performance.timeOrigin + performance.now()) * 1000; });
