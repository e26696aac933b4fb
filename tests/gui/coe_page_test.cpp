// The CoE page and the mailbox dialog against a simulated ZR12, IO, ZR02
// segment: object reads and writes as the user makes them, the field checks
// that keep bad input off the bus, and the homing group's lists.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <functional>
#include <memory>

#include "app/gui/main_window.hpp"
#include "ethercat.h"
#include "gui_fixture.hpp"
#include "motor/motor_bus.hpp"
#include "settings/settings_values.hpp"
#include "tools/cia402_page_logic.hpp"
#include "tools/coe_access.hpp"
#include "tools/gui/cat_tools.hpp"
#include "tools/gui/mail_box_coe.hpp"
#include "tools/homing.hpp"
#include "tools/tools_state.hpp"

namespace {

using guitest::Click;
using guitest::RecordedBoxes;
using guitest::Type;
using guitest::WorkFolder;
using testsupport::Child;

constexpr int kIoSlave = 2;
constexpr int kZr02Slave = 3;

QString Result(QWidget* window) {
    return Child<QLineEdit>(window, "resultEdit")->text();
}

// The library keeps its error flag set after its last entry was taken, and the
// next upload of any thread then reports nothing: each test starts and ends
// with none.
void ClearLibraryErrors() {
    while (ec_poperror(nullptr)) {
    }
}

class CoePageOnBus : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetToolsState();
        ClearLibraryErrors();
        page_ = std::make_unique<CatTools>();
        page_->show();
        page_->OnTimer();  // the bus is ready: fills the lists
    }
    void TearDown() override {
        page_.reset();
        ResetToolsState();
        ClearLibraryErrors();
    }

    QWidget* page() { return page_.get(); }
    int64_t OutputMask(int slave, int axis) {
        return bus_.bridge(slave).dictionary().getInt(static_cast<uint16_t>(0x60FE + axis * 0x800),
                                                      2);
    }
    // Reads the object on the page as the user does; the result field's text.
    QString Read(const char* type, const QString& index, const QString& subindex) {
        Click(page(), type);
        Type(page(), "indexEdit", index);
        Type(page(), "subindexEdit", subindex);
        Click(page(), "readButton");
        return Result(page());
    }
    // Writes the object on the page as the user does.
    void Write(const char* type, const QString& index, const QString& subindex,
               const QString& data) {
        Click(page(), type);
        Type(page(), "indexEdit", index);
        Type(page(), "subindexEdit", subindex);
        Type(page(), "dataEdit", data);
        Click(page(), "writeButton");
    }

    WorkFolder folder_;
    motortest::MotorBus bus_{"ZR12,IO,ZR02"};
    RecordedBoxes boxes_;
    std::unique_ptr<CatTools> page_;
};

TEST_F(CoePageOnBus, ReadsByTheDefaultsAndByEveryFormOfIndexAndDataType) {
    Click(page(), "readButton");
    EXPECT_EQ(Result(page()), "Torvanelix ZR12");
    EXPECT_TRUE(Child<QAbstractButton>(page(), "typeString")->isChecked());

    EXPECT_EQ(Read("typeString", "1008h", "0"), "Torvanelix ZR12");
    const uint16_t status = bus_.bridge(1).axis(0).statusword();
    EXPECT_EQ(Read("type2Byte", "0x6041", "0"),
              QString::asprintf("0x%4.4x (%d)", status, static_cast<int16_t>(status)));
    EXPECT_EQ(Read("type1Byte", "6060", "0"), "0x65 101");  // TQL pass-through mode

    // Two characters are too few for an index, whatever they say.
    const QString before = Result(page());
    Click(page(), "type4Byte");
    Type(page(), "indexEdit", "10");
    Type(page(), "dataEdit", "1");
    Click(page(), "readButton");
    Click(page(), "writeButton");
    EXPECT_EQ(boxes_.texts(), (std::vector<std::wstring>{L"COE Read Index Data Error!",
                                                         L"COE Write Index Data Error!"}));
    EXPECT_EQ(Result(page()), before);
}

TEST_F(CoePageOnBus, WritesNumbersAsFourBytesAndTextsAsTheirBytes) {
    Write("type4Byte", "607C", "0", "-1");
    EXPECT_EQ(bus_.bridge(1).dictionary().find(0x607C, 0)->value,
              (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));

    // The motor's version query on its line object, its answer on its reply object.
    Write("typeString", "F581", "0", "?99.1");
    QString reply;
    for (int attempt = 0; attempt < 50 && !reply.startsWith("Ux"); ++attempt) {
        reply = Read("typeString", "F591", "0");
    }
    EXPECT_EQ(reply, "Ux=TQ-A 2.10");
    EXPECT_TRUE(boxes_.texts().empty());
}

TEST_F(CoePageOnBus, SubindexesOtherThanZeroAreReadAndWritten) {
    EXPECT_EQ(Read("type4Byte", "1018", "1"), "0x00000a3e (2622)");  // the vendor id

    // The board type, behind the unlock word.
    Write("type4Byte", "F550", "2", "32299");  // 0x7E2B
    Write("type4Byte", "F540", "0B", "2");
    EXPECT_EQ(bus_.bridge(1).dictionary().getInt(0xF540, 0x0B), 2);
    EXPECT_EQ(Result(page()), "") << "a write the slave took shows nothing";
    EXPECT_EQ(Read("type4Byte", "F540", "B"), "0x00000002 (2)");
    EXPECT_TRUE(boxes_.texts().empty());
}

// A write the slave refuses says so where the page shows its results, and
// neither the page's next read nor the CiA402 page's input poll takes the
// refusal for its own.
TEST_F(CoePageOnBus, ARefusedWriteSaysSoAndNoLaterReadTakesItsError) {
    Write("typeString", "1008", "0", "new name");
    EXPECT_TRUE(Result(page()).startsWith("Time:")) << Result(page()).toStdString();
    EXPECT_TRUE(Result(page()).contains("Attempt to write to a read only object"))
        << Result(page()).toStdString();
    EXPECT_EQ(Read("typeString", "1008", "0"), "Torvanelix ZR12");

    // A line too long for the motor channel, then the CiA402 page's poll.
    Type(page(), "indexEdit", "F581");
    Type(page(), "dataEdit", QString(200, 'a'));
    Click(page(), "writeButton");
    EXPECT_TRUE(Result(page()).contains("index:f581.00")) << Result(page()).toStdString();
    int32_t inputs = -1;
    EXPECT_EQ(ReadDigitalInputs(1, 1, &inputs), 0);

    // The next write that the slave takes clears the refusal.
    Type(page(), "dataEdit", "?99.1");
    Click(page(), "writeButton");
    EXPECT_EQ(Result(page()), "");
    EXPECT_TRUE(boxes_.texts().empty());
}

TEST_F(CoePageOnBus, ANothingReadShowsTheErrorTextNotAValue) {
    // The I/O terminal has no mailbox: no upload, so no "0x00000000 (0)".
    Child<QComboBox>(page(), "slaveCombo")->setCurrentIndex(kIoSlave - 1);
    EXPECT_EQ(Read("type4Byte", "1008", "0"), "Not Obeject, ERROR!");
    Child<QComboBox>(page(), "slaveCombo")->setCurrentIndex(0);
    EXPECT_EQ(Read("type4Byte", "2000", "0"), "Not Obeject, ERROR!");
    EXPECT_TRUE(boxes_.texts().empty());
}

// Every refusal comes before any device access, with the field's own message.
TEST_F(CoePageOnBus, BadFieldsAreRefusedWithoutTouchingTheBus) {
    struct Case {
        bool write;
        int32_t type;
        const wchar_t* index;
        const wchar_t* subindex;
        std::wstring data;
        const wchar_t* message;
    };
    const Case cases[] = {
        {false, kCoeTypeString, L"16060", L"0", L"", L"COE Read Index Data Error!"},
        {true, kCoeType4Byte, L"zz1", L"0", L"1", L"COE Write Index Data Error!"},
        {false, kCoeTypeString, L"1008", L"100", L"", L"COE Read SubIndex Data Error!"},
        {true, kCoeType4Byte, L"607C", L"", L"1", L"COE Write Sub Index Data Error!"},
        {true, kCoeType4Byte, L"607C", L"0", L"abc", L"COE Write Data Error!"},
        {true, kCoeType4Byte, L"607C", L"0", L"4294967296", L"COE Write Data Error!"},
        {true, kCoeTypeString, L"F581", L"0", L"", L"COE Write CoeWrite Data Error!"},
        {true, kCoeTypeString, L"F581", L"0", L"?99.1 \u20ac", L"COE Write CoeWrite Data Error!"},
        {true, kCoeTypeString, L"F581", L"0", std::wstring(256, L'a'),
         L"COE Write CoeWrite Data Error!"},
        {true, kCoeType2Byte, L"", L"", L"",
         L"COE Write Type Error \r\nCOE WRITE : 4Byte and String"},
    };
    const uint64_t frames = bus_.frames();
    for (const Case& c : cases) {
        const CoeFields fields{0, c.type, c.index, c.subindex, c.data};
        const std::wstring message =
            (c.write ? CoeWrite(fields, kCoePageRules) : CoeRead(fields, kCoePageRules)).message;
        EXPECT_EQ(message, c.message)
            << (c.write ? "write " : "read ") << QString::fromStdWString(c.index).toStdString();
    }
    // The dialog writes nothing for the narrow types, and says nothing.
    const CoeOutcome narrow = CoeWrite({0, kCoeType1Byte, L"607C", L"0", L"1"}, kMailBoxRules);
    EXPECT_EQ(narrow.message, L"");
    EXPECT_FALSE(narrow.accessed);
    // A slave the scan did not find, and no slave at all (an empty list).
    for (const int32_t slaveIndex : {-1, 3}) {
        const CoeFields fields{slaveIndex, kCoeType4Byte, L"607C", L"0", L"1"};
        EXPECT_EQ(CoeWrite(fields, kMailBoxRules).message, L"Board Select Error!");
        EXPECT_EQ(CoeRead(fields, kMailBoxRules).message, L"COE Read Board Select Error!");
    }
    EXPECT_EQ(bus_.frames(), frames);
}

TEST_F(CoePageOnBus, ListsAreFilledOnceWithoutWritingAndAMotorChoiceEnablesItsOutputs) {
    EXPECT_EQ(Child<QComboBox>(page(), "slaveCombo")->count(), 3);
    const auto* motors = Child<QComboBox>(page(), "motorCombo");
    ASSERT_EQ(motors->count(), 4);
    EXPECT_EQ(motors->itemText(2), "Motor.3");
    EXPECT_EQ(Child<QComboBox>(page(), "homingTypeCombo")->itemText(3), "SwitchCCW");
    EXPECT_EQ(Child<QComboBox>(page(), "homingInputCombo")->itemText(5), "INPUT6");
    for (const int slave : {1, kZr02Slave}) {
        for (int axis = 0; axis < 4; ++axis) EXPECT_EQ(OutputMask(slave, axis), 0);
    }

    Child<QComboBox>(page(), "slaveCombo")->setCurrentIndex(kZr02Slave - 1);
    Child<QComboBox>(page(), "motorCombo")->setCurrentIndex(2);
    EXPECT_EQ(OutputMask(kZr02Slave, 2), 15);  // 0x70FE:02
    EXPECT_EQ(OutputMask(kZr02Slave, 0), 0);
    EXPECT_EQ(OutputMask(1, 2), 0);

    // A new expected count does not reach the page's list.
    g_slaveCount = 1;
    page_->OnTimer();
    EXPECT_EQ(Child<QComboBox>(page(), "slaveCombo")->count(), 3);
}

TEST_F(CoePageOnBus, SwitchTypesShowTheHomingInputInPlaceOfTheTorque) {
    auto* types = Child<QComboBox>(page(), "homingTypeCombo");
    const auto shown = [this](const char* name) {
        return Child<QWidget>(page(), name)->isVisibleTo(page());
    };
    EXPECT_TRUE(shown("torqueEdit"));
    EXPECT_FALSE(shown("homingInputCombo"));
    types->setCurrentIndex(2);  // SwitchCW
    EXPECT_TRUE(shown("homingInputCombo"));
    EXPECT_TRUE(shown("homingInputLabel"));
    EXPECT_FALSE(shown("torqueEdit"));
    EXPECT_FALSE(shown("torqueLabel"));
    EXPECT_EQ(Child<QLabel>(page(), "homingInputLabel")->text(), "Homing INPUT");
    types->setCurrentIndex(1);  // StopperCCW
    EXPECT_TRUE(shown("torqueEdit"));
    EXPECT_FALSE(shown("homingInputCombo"));
}

// Opens the dialog from the Tools menu, runs `use` on it while it is open, and
// closes it with Quit.
void UseMailBox(const CDuZEraDezorav1Dlg& window, const std::function<void(QWidget*)>& use) {
    QAction* item = guitest::MenuItem(&window, "toolsMenu", "MailBox");
    const QWidget* opened = guitest::RunModal([item] { item->trigger(); },
                                              [&](QWidget* dialog) {
                                                  if (dialog == g_dlgMailBoxCoe) use(dialog);
                                              });
    EXPECT_EQ(opened, g_dlgMailBoxCoe);
    EXPECT_FALSE(g_dlgMailBoxCoe->isVisible());
}

TEST_F(CoePageOnBus, MailBoxStartsAfreshAtEachOpeningAndShowsTheLibrarysErrorText) {
    std::vector<std::string> settings = {bus_.name(), "9751", "3", "2500", "60",
                                         "1000",      "0",    "1", "1"};
    folder_.writeSettings(settings);
    CDuZEraDezorav1Dlg window;
    window.OnInitDialog();
    window.show();

    UseMailBox(window, [&](QWidget* dialog) {
        EXPECT_TRUE(Child<QAbstractButton>(dialog, "type4Byte")->isChecked());
        EXPECT_EQ(Child<QComboBox>(dialog, "slaveCombo")->count(), 3);
        Type(dialog, "indexEdit", "1008");
        Type(dialog, "subindexEdit", "0");
        Child<QComboBox>(dialog, "slaveCombo")->setCurrentIndex(kIoSlave - 1);
        Click(dialog, "coeReadButton");
        EXPECT_EQ(Result(dialog), "Slave does not answer");  // no mailbox, no value

        Child<QComboBox>(dialog, "slaveCombo")->setCurrentIndex(0);
        const uint64_t frames = bus_.frames();
        Click(dialog, "type2Byte");
        Click(dialog, "coeWriteButton");
        EXPECT_EQ(bus_.frames(), frames);
        Click(dialog, "typeString");
        Click(dialog, "coeReadButton");
        EXPECT_EQ(Result(dialog), "Torvanelix ZR12");
    });

    g_slaveCount = 4;
    UseMailBox(window, [&](QWidget* dialog) {
        EXPECT_TRUE(Child<QAbstractButton>(dialog, "type4Byte")->isChecked());
        EXPECT_EQ(Child<QLineEdit>(dialog, "indexEdit")->text(), "");
        EXPECT_EQ(Result(dialog), "");
        auto* slaves = Child<QComboBox>(dialog, "slaveCombo");
        ASSERT_EQ(slaves->count(), 4);
        Type(dialog, "indexEdit", "2000");
        Type(dialog, "subindexEdit", "0");
        slaves->setCurrentIndex(3);
        Click(dialog, "coeReadButton");
        EXPECT_EQ(boxes_.texts(), std::vector<std::wstring>{L"COE Read Board Select Error!"});
        slaves->setCurrentIndex(0);
        Click(dialog, "coeReadButton");
        EXPECT_TRUE(Result(dialog).startsWith("Time:")) << Result(dialog).toStdString();
    });
}

}  // namespace
