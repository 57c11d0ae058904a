#include "qt_stored_settings.h"

#include <QSettings>

#include <stdexcept>

#include "port_setting_text.h"

namespace kvr {
namespace {

const char kOrganisation[] = "ZENOVA";
const char kApplication[] = "KVR_LORVENT_LOADER";

// Each use reads the file as it is now: nothing is kept between them.
QSettings Open() { return QSettings(QSettings::NativeFormat, QSettings::UserScope, kOrganisation, kApplication); }

}  // namespace

int32_t QtStoredSettings::PortIndex() const {
  const QVariant value = Open().value("COM");
  if (!value.isValid()) return -1;
  if (value.typeId() != QMetaType::QString) throw std::runtime_error("Invalid data type for 'COM'");
  return SettingIndexOrMinusOne(value.toString().toStdString());
}

std::string QtStoredSettings::RecordFile() const { return Open().value("Record").toString().toStdString(); }

bool QtStoredSettings::SetRecordFile(const std::string& path) {
  QSettings settings = Open();
  settings.setValue("Record", QString::fromStdString(path));
  settings.sync();
  return settings.status() == QSettings::NoError;
}

std::string QtStoredSettings::Place() const { return Open().fileName().toStdString(); }

}  // namespace kvr
