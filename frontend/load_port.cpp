#include "load_port.h"

#include <utility>

namespace kvr {

void SetUpLoadPort(va::TVaComm& port, const std::string& device_path, uint32_t baud,
                   std::function<void(int count)> on_bytes, std::function<void()> on_lost) {
  port.SetDeviceName(device_path);  // COM7, ttyUSB0 or a path
  port.SetFlowControl(va::TVaFlowControl());
  port.Buffers().SetReadTimeout(5000);
  port.Buffers().SetWriteTimeout(0);
  // The standard rate by its name, as the window's stored layout gives it.
  if (baud == 38400)
    port.SetBaudrate(va::br38400);
  else
    port.SetUserBaudrate(static_cast<int32_t>(baud));
  port.OnRxChar = [on_bytes = std::move(on_bytes)](va::TVaObject*, int count) { on_bytes(count); };
  port.OnError = [on_lost = std::move(on_lost)](va::TVaObject*, int errors) {
    if (errors & static_cast<int>(va::kCeDeviceLost)) on_lost();
  };
}

}  // namespace kvr
