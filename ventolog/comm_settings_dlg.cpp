#include "ventolog/comm_settings_dlg.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <initializer_list>
#include <span>

#include "platform/desktop/controls.h"
#include "ventolog/viewer_settings.h"

namespace {

constexpr const char* kPorts[] = {"COM1", "COM2", "COM3", "COM4"};
constexpr const char* kBaudRates[] = {"110",   "300",   "600",    "1200",   "2400",
                                      "4800",  "9600",  "14400",  "19200",  "38400",
                                      "56000", "57600", "115200", "128000", "256000"};
constexpr const char* kDataBits[] = {"5", "6", "7", "8"};

// A list entry and the number it stands for in the registry.
struct CodedEntry {
  const char* text;
  uint32_t value;
};
constexpr CodedEntry kParities[] = {
    {"Even", 2}, {"Mark", 3}, {"None", 0}, {"Odd", 1}, {"Space", 4},
};
constexpr CodedEntry kStopBits[] = {{"1", 0}, {"1.5", 1}, {"2", 2}};
// What a stored number shows; any other number shows the fallback.
constexpr const char* kParityFallback = "Even";
constexpr const char* kStopBitsFallback = "1";

QComboBox* MakeList(QWidget* parent, int id, std::span<const char* const> entries) {
  auto* list = new QComboBox(parent);
  desktop::SetControlId(list, id);
  for (const char* entry : entries) list->addItem(QString::fromUtf8(entry));
  return list;
}

QComboBox* MakeList(QWidget* parent, int id, std::span<const CodedEntry> entries) {
  auto* list = new QComboBox(parent);
  desktop::SetControlId(list, id);
  for (const CodedEntry& entry : entries) list->addItem(QString::fromUtf8(entry.text));
  return list;
}

// Selects the first entry that begins with `text`, without regard to case; no entry is
// selected when none does.
void SelectStartingWith(QComboBox* list, const QString& text) {
  list->setCurrentIndex(list->findText(text, Qt::MatchStartsWith));
}

const char* TextOfValue(std::span<const CodedEntry> entries, uint32_t value, const char* fallback) {
  for (const CodedEntry& entry : entries) {
    if (entry.value == value) return entry.text;
  }
  return fallback;
}

}  // namespace

CommSettingsDlg::CommSettingsDlg(QWidget* parent, const RegistryRoot& registry)
    : QDialog(parent), registry_(registry) {
  setWindowTitle(QStringLiteral("Dialog"));
  port_ = MakeList(this, kIdPortList, kPorts);
  baudRate_ = MakeList(this, kIdBaudRateList, kBaudRates);
  dataBits_ = MakeList(this, kIdDataBitsList, kDataBits);
  parity_ = MakeList(this, kIdParityList, kParities);
  stopBits_ = MakeList(this, kIdStopBitsList, kStopBits);

  char port[kRegistryTextLength];
  RegReadText(&registry_, kCommPortSettingsKey, kCommPortValue, kDefaultCommPort, port);
  SelectStartingWith(port_, QString::fromUtf8(port));
  SelectStartingWith(baudRate_, QString::number(RegReadNumber(&registry_, kCommPortSettingsKey,
                                                              kBaudRateValue, kDefaultBaudRate)));
  SelectStartingWith(
      dataBits_, QString::number(RegReadNumber(&registry_, kCommPortSettingsKey, kNumDataBitsValue,
                                               kDefaultDataBits)));
  uint32_t parity = RegReadNumber(&registry_, kCommPortSettingsKey, kParityValue, kDefaultParity);
  SelectStartingWith(parity_, QString::fromUtf8(TextOfValue(kParities, parity, kParityFallback)));
  uint32_t stopBits =
      RegReadNumber(&registry_, kCommPortSettingsKey, kNumStopBitsValue, kDefaultStopBits);
  SelectStartingWith(stopBits_,
                     QString::fromUtf8(TextOfValue(kStopBits, stopBits, kStopBitsFallback)));

  auto* form = new QFormLayout;
  for (auto [label, list] : {std::pair{"&Port:", port_}, std::pair{"&Baud Rate:", baudRate_},
                             std::pair{"&Data Bits:", dataBits_}, std::pair{"P&arity:", parity_},
                             std::pair{"&Stop Bits:", stopBits_}}) {
    form->addRow(new QLabel(QString::fromUtf8(label), this), list);
    qobject_cast<QLabel*>(form->labelForField(list))->setBuddy(list);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  desktop::SetControlId(buttons->button(QDialogButtonBox::Ok), desktop::kIdOk);
  desktop::SetControlId(buttons->button(QDialogButtonBox::Cancel), desktop::kIdCancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
}

void CommSettingsDlg::accept() {
  // A list without a selection (a stored value that none of its entries begins with) leaves
  // its value as it is rather than storing an empty text or a zero.
  if (port_->currentIndex() >= 0) {
    RegWriteText(&registry_, kCommPortSettingsKey, kCommPortValue,
                 port_->currentText().toUtf8().constData());
  }
  for (auto [list, name] :
       {std::pair{baudRate_, kBaudRateValue}, std::pair{dataBits_, kNumDataBitsValue}}) {
    if (list->currentIndex() < 0) continue;
    RegWriteNumber(&registry_, kCommPortSettingsKey, name,
                   static_cast<uint32_t>(list->currentText().toULong()));
  }
  if (parity_->currentIndex() >= 0) {
    RegWriteNumber(&registry_, kCommPortSettingsKey, kParityValue,
                   kParities[parity_->currentIndex()].value);
  }
  if (stopBits_->currentIndex() >= 0) {
    RegWriteNumber(&registry_, kCommPortSettingsKey, kNumStopBitsValue,
                   kStopBits[stopBits_->currentIndex()].value);
  }
  QDialog::accept();
}
