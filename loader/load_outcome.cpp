#include "load_outcome.h"

namespace kvr {

namespace {

constexpr OutcomeFacts kOutcomes[] = {
    {LoadOutcome::kIdle, "", 1, "not started", "Загрузка не начата"},
    {LoadOutcome::kRunning, "", 1, "under way", "Идёт загрузка"},
    {LoadOutcome::kComplete, "complete", 0, "load complete", "Загрузка завершена"},
    {LoadOutcome::kStopped, "stopped", 0, "stopped after the commands asked for", "Загрузка остановлена"},
    {LoadOutcome::kInterrupted, "interrupted", 130, "interrupted", "Загрузка прервана"},
    {LoadOutcome::kNoAnswer, "no answer", 3, "the device stopped answering", "Нет ответа от устройства"},
    {LoadOutcome::kPortLost, "port lost", 4, "the port was lost during the load", "Потеряна связь с портом "},
    {LoadOutcome::kPortError, "port error", 2, "the port could not be opened or configured",
     "Порт не открыт"},
    {LoadOutcome::kImageError, "image error", 1, "the image cannot be loaded", "Ошибка в файле обновления"},
    {LoadOutcome::kLogError, "log error", 1, "the log cannot be written", "Журнал не записать"},
    {LoadOutcome::kRecordError, "record error", 1, "the record of loads cannot be written",
     "Запись о загрузке невозможна"},
    {LoadOutcome::kLogIncomplete, "log incomplete", 5, "load complete, but the log or the record is incomplete",
     "Загрузка завершена, журнал неполон"},
    {LoadOutcome::kImageDiffers, "image differs", 6, "the simulated device's image differs from the file",
     "Образ в устройстве отличается от файла"},
};

}  // namespace

const OutcomeFacts& FactsOf(LoadOutcome outcome) {
  for (const OutcomeFacts& facts : kOutcomes)
    if (facts.outcome == outcome) return facts;
  return kOutcomes[0];
}

std::optional<LoadOutcome> OutcomeNamed(std::string_view record) {
  for (const OutcomeFacts& facts : kOutcomes)
    if (!facts.record.empty() && facts.record == record) return facts.outcome;
  return std::nullopt;
}

std::string OutcomeNames() {
  std::string names;
  for (const OutcomeFacts& facts : kOutcomes) {
    if (facts.record.empty()) continue;
    if (!names.empty()) names += ", ";
    names += facts.record;
  }
  return names;
}

}  // namespace kvr
