#include "port_json.h"

#include "hex_text.h"

namespace kvr {

using json = nlohmann::ordered_json;

json DeviceTextJson(const std::string& text) { return text.empty() ? json(nullptr) : json(WithoutControls(text)); }

json UsbJson(const va::TVaPortIdentity& identity) {
  if (!identity.IsUsb()) return nullptr;
  return {{"vendor_id", WithoutControls(identity.VendorId)},
          {"product_id", WithoutControls(identity.ProductId)},
          {"manufacturer", WithoutControls(identity.Manufacturer)},
          {"product", WithoutControls(identity.Product)},
          {"serial_number", WithoutControls(identity.SerialNumber)}};
}

}  // namespace kvr
