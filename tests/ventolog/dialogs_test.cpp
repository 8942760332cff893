#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <string>

#include "platform/desktop/controls.h"
#include "platform/module_version.h"
#include "tests/ventolog/viewer_fixture.h"
#include "ventolog/about_dlg.h"
#include "ventolog/comm_settings_dlg.h"
#include "ventolog/filter_setup_dlg.h"

namespace {

void Click(QDialog& dialog, int id) {
  QPushButton* button = desktop::FindControl<QPushButton>(&dialog, id);
  ASSERT_NE(button, nullptr) << id;
  button->click();
}

TEST_F(ViewerTest, TheAboutBoxOfAProgramWithoutVersionInformationSaysUnknown) {
  StartViewer();
  std::string version;
  modal().dialogs.push_back([&](QDialog& dialog) {
    auto* text = desktop::FindControl<QLineEdit>(&dialog, kIdVersionText);
    ASSERT_NE(text, nullptr);
    EXPECT_TRUE(text->isReadOnly());
    version = text->text().toStdString();
    Click(dialog, desktop::kIdOk);
  });
  Command(kCmdAppAbout);
  EXPECT_EQ(modal().dialogCaptions, std::vector<std::string>{"About Ventolog"});
  EXPECT_EQ(version, "Software Version - Unknown");

  std::string programVersion;
  ASSERT_TRUE(platform::ReadModuleVersionValue(
      WG_VENTOLOG_PROGRAM, "\\StringFileInfo\\040904b0\\FileVersion", &programVersion));
  EXPECT_EQ(programVersion, "4, 1, 0, 1") << "what the program's own About box shows";
}

TEST_F(ViewerTest, EachFilterCheckBoxShowsAndTogglesItsOwnBit) {
  StartViewer();
  struct Case {
    int command;
    const char (*names)[kTraceNameLength];
    uint32_t TraceFilters::*mask;
  };
  const Case cases[] = {
      {kCmdProcedureFilter, g_TraceWhereNames, &TraceFilters::uiWhere},
      {kCmdTypeFilter, g_TraceTypeNames, &TraceFilters::uiType},
  };
  for (const Case& c : cases) {
    const uint32_t before = 0x80010003u;
    viewer().Filters().*c.mask = before;
    modal().dialogs.push_back([&](QDialog& dialog) {
      auto& filter = static_cast<FilterSetupDlg&>(dialog);
      EXPECT_EQ(dialog.windowTitle(), "Filter Type Setup");
      for (int bit = 0; bit < 32; ++bit) {
        auto* box = desktop::FindControl<QCheckBox>(&dialog, FilterCheckBoxId(bit));
        ASSERT_NE(box, nullptr) << bit;
        EXPECT_EQ(box->text().toStdString(), c.names[bit]) << bit;
        EXPECT_EQ(box->isChecked(), ((before >> bit) & 1u) != 0) << bit;
        uint32_t mask = filter.Mask();
        box->click();
        EXPECT_EQ(filter.Mask(), mask ^ (1u << bit)) << "bit " << bit;
        EXPECT_EQ(box->isChecked(), ((filter.Mask() >> bit) & 1u) != 0) << bit;
      }
      Click(dialog, desktop::kIdOk);
    });
    Command(c.command);
    EXPECT_EQ(viewer().Filters().*c.mask, ~before) << c.command;
  }
  EXPECT_EQ(FilterCheckBoxId(0), 1022);
  EXPECT_EQ(FilterCheckBoxId(15), 1037);
  EXPECT_EQ(FilterCheckBoxId(16), 1054);
  EXPECT_EQ(FilterCheckBoxId(31), 1069);
}

TEST_F(ViewerTest, CancelInAFilterDialogChangesNothing) {
  StartViewer();
  const TraceFilters before = viewer().Filters();
  for (int command : {kCmdProcedureFilter, kCmdTypeFilter}) {
    modal().dialogs.push_back([](QDialog& dialog) {
      for (int bit : {31, 20, 0})
        desktop::FindControl<QCheckBox>(&dialog, FilterCheckBoxId(bit))->click();
      Click(dialog, desktop::kIdCancel);
    });
    Command(command);
  }
  EXPECT_EQ(viewer().Filters().uiWhere, before.uiWhere);
  EXPECT_EQ(viewer().Filters().uiType, before.uiType);
}

TEST_F(ViewerTest, TheCommSettingsDialogShowsAndStoresTheRegistryCodes) {
  struct Case {
    uint32_t parity, stopBits, baudRate, dataBits;
    const char* port;
    const char *parityShown, *stopBitsShown, *baudShown, *dataShown, *portShown;
  };
  const Case cases[] = {
      {2, 0, 9600, 8, "COM1", "Even", "1", "9600", "8", "COM1"},
      {0, 1, 115200, 7, "com3", "None", "1.5", "115200", "7", "COM3"},
      {1, 2, 110, 5, "COM4", "Odd", "2", "110", "5", "COM4"},
      {3, 7, 128000, 6, "COM2", "Mark", "1", "128000", "6", "COM2"},
      {4, 0, 300, 8, "COM1", "Space", "1", "300", "8", "COM1"},
      {9, 0, 9600, 8, "COM1", "Even", "1", "9600", "8", "COM1"},
  };
  for (const Case& c : cases) {
    RegWriteNumber(registry(), kCommPortSettingsKey, kParityValue, c.parity);
    RegWriteNumber(registry(), kCommPortSettingsKey, kNumStopBitsValue, c.stopBits);
    RegWriteNumber(registry(), kCommPortSettingsKey, kBaudRateValue, c.baudRate);
    RegWriteNumber(registry(), kCommPortSettingsKey, kNumDataBitsValue, c.dataBits);
    RegWriteText(registry(), kCommPortSettingsKey, kCommPortValue, c.port);
    CommSettingsDlg dialog(nullptr, *registry());
    EXPECT_EQ(dialog.windowTitle(), "Dialog");
    auto shown = [&](int id) {
      return desktop::FindControl<QComboBox>(&dialog, id)->currentText().toStdString();
    };
    EXPECT_EQ(shown(kIdParityList), c.parityShown) << c.parity;
    EXPECT_EQ(shown(kIdStopBitsList), c.stopBitsShown) << c.stopBits;
    EXPECT_EQ(shown(kIdBaudRateList), c.baudShown) << c.baudRate;
    EXPECT_EQ(shown(kIdDataBitsList), c.dataShown) << c.dataBits;
    EXPECT_EQ(shown(kIdPortList), c.portShown) << c.port;
  }

  struct Choice {
    const char* parity;
    uint32_t parityStored;
    const char* stopBits;
    uint32_t stopBitsStored;
  };
  for (Choice choice :
       {Choice{"Space", 4, "1.5", 1}, Choice{"Even", 2, "2", 2}, Choice{"Mark", 3, "1", 0},
        Choice{"None", 0, "1", 0}, Choice{"Odd", 1, "2", 2}}) {
    CommSettingsDlg dialog(nullptr, *registry());
    auto select = [&](int id, const char* text) {
      auto* list = desktop::FindControl<QComboBox>(&dialog, id);
      list->setCurrentIndex(list->findText(text));
    };
    select(kIdParityList, choice.parity);
    select(kIdStopBitsList, choice.stopBits);
    select(kIdBaudRateList, "19200");
    select(kIdDataBitsList, "6");
    select(kIdPortList, "COM2");
    Click(dialog, desktop::kIdOk);
    EXPECT_EQ(RegReadNumber(registry(), kCommPortSettingsKey, kParityValue, 99),
              choice.parityStored)
        << choice.parity;
    EXPECT_EQ(RegReadNumber(registry(), kCommPortSettingsKey, kNumStopBitsValue, 99),
              choice.stopBitsStored)
        << choice.stopBits;
    EXPECT_EQ(RegReadNumber(registry(), kCommPortSettingsKey, kBaudRateValue, 0), 19200u);
    EXPECT_EQ(RegReadNumber(registry(), kCommPortSettingsKey, kNumDataBitsValue, 0), 6u);
    char port[kRegistryTextLength];
    RegReadText(registry(), kCommPortSettingsKey, kCommPortValue, "", port);
    EXPECT_STREQ(port, "COM2");
  }
}

TEST_F(ViewerTest, CancelInTheCommSettingsDialogAndUnknownValuesStoreNothing) {
  RegWriteNumber(registry(), kCommPortSettingsKey, kBaudRateValue, 12345);
  RegWriteText(registry(), kCommPortSettingsKey, kCommPortValue, "ttyUSB0");
  {
    CommSettingsDlg dialog(nullptr, *registry());
    EXPECT_EQ(desktop::FindControl<QComboBox>(&dialog, kIdBaudRateList)->currentIndex(), -1);
    desktop::FindControl<QComboBox>(&dialog, kIdParityList)->setCurrentIndex(0);
    Click(dialog, desktop::kIdCancel);
  }
  EXPECT_EQ(RegReadNumber(registry(), kCommPortSettingsKey, kParityValue, 99), 0u);
  {
    CommSettingsDlg dialog(nullptr, *registry());
    Click(dialog, desktop::kIdOk);
  }
  EXPECT_EQ(RegReadNumber(registry(), kCommPortSettingsKey, kBaudRateValue, 0), 12345u)
      << "a value no entry begins with stays as it is";
  char port[kRegistryTextLength];
  RegReadText(registry(), kCommPortSettingsKey, kCommPortValue, "", port);
  EXPECT_STREQ(port, "ttyUSB0");
}

}  // namespace
