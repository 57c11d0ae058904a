// The window's own texts: caption, title, status line, messages and questions.
#pragma once

#include <string>

namespace kvr {

// `text` with its placeholder %n ("%1", "%2", ...) filled in with `value`.
inline std::string FillIn(std::string text, int n, const std::string& value) {
  const std::string key = '%' + std::to_string(n);
  if (const size_t at = text.find(key); at != std::string::npos) text.replace(at, key.size(), value);
  return text;
}

inline constexpr const char* kWindowCaption = "Загрузчик DATAFLASH в ВЕЛМ KVR-LORVENT/VUNI v.1";
inline constexpr const char* kApplicationTitle = "Загрузчик обновленного ПО в Велм-КВР";
inline constexpr const char* kNoFileStatus = "Файл для загрузки не открыт";
inline constexpr const char* kBadLineStatus = "Ошибка в строке %1 файла обновления";
inline constexpr const char* kWrongSizeStatus = "Неверный размер файла. Страниц для загрузки: ";
inline constexpr const char* kTooLargeMessage = "Файл %1 больше 64 МиБ и не открыт.";
inline constexpr const char* kStoppedAtPage = ", страница %1 из %2";
inline constexpr const char* kStoppedAtOpening = ", до первой страницы";
inline constexpr const char* kGoToQuestion =
    "Перейти к адресу образа (0x1230 или 1230, шестнадцатеричный) или к строке файла (#100):";
inline constexpr const char* kNotAPlace = "«%1» — не адрес и не номер строки.";
inline constexpr const char* kNoSuchLine = "Строки %1 нет: строки 1..36864.";
inline constexpr const char* kNoSuchAddress = "Адреса %1 нет: адреса 0..8FFFF.";
inline constexpr const char* kRefusedStatus = "Ответ устройства: ";
inline constexpr const char* kCloseQuestion = "Загрузка не завершена. Прервать загрузку и закрыть программу?";
inline constexpr const char* kRetryLog = "Повтор %1 (%2): %3";
inline constexpr const char* kRecordRefusedMessage = "Запись о загрузке невозможна: ";
inline constexpr const char* kRecordFailedMessage = "Запись о загрузке не сделана: ";
inline constexpr const char* kRecordBusyQuestion = "Файл записей о загрузках занят: %1. Подождать ещё?";
inline constexpr const char* kNoPermissionToolTip = "Нет прав на этот порт.";
inline constexpr const char* kOpenDialogTitle = "Файл для загрузки";
inline constexpr const char* kSaveDialogTitle = "Сохранить файл обновления как";
inline constexpr const char* kSaveDialogFilter = "Файл обновления БК 407KM|*.KVR";  // name|pattern
inline constexpr const char* kSaveAsButton = "Сохранить как…";
inline constexpr const char* kSaveAsHint = "Сохранить образ, как он показан, в файл обновления (Ctrl+S)";
inline constexpr const char* kRevertButton = "Вернуть";
inline constexpr const char* kRevertHint = "Вернуть изменённые ячейки к открытому файлу";
inline constexpr const char* kNothingToSaveMessage = "Файл не открыт: сохранять нечего.";
inline constexpr const char* kReplaceQuestion = "Файл %1 уже есть. Заменить его?";
inline constexpr const char* kSaveOntoLoadMessage = "Файл %1 сейчас загружается в устройство и не может быть заменён.";
inline constexpr const char* kNotSavedMessage = "Файл не сохранён.\n\n%1: %2";
inline constexpr const char* kUnsavedQuestion = "Изменённые ячейки не сохранены. Отбросить изменения?";
inline constexpr const char* kRevertQuestion = "Вернуть изменённые ячейки к файлу %1?";
inline constexpr const char* kElapsedText = "Прошло ";
inline constexpr const char* kRemainingText = "   Осталось ";

}  // namespace kvr
