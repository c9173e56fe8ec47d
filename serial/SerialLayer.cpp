#include "serial/SerialLayer.h"

namespace varnox::serial {

namespace {
SerialLayer* installed = nullptr;
}

SerialLayer& ActiveLayer() {
    return installed != nullptr ? *installed : PlatformLayer();
}

SerialLayer* InstallLayer(SerialLayer* layer) {
    SerialLayer* previous = installed != nullptr ? installed : &PlatformLayer();
    installed = layer;
    return previous;
}

}  // namespace varnox::serial
