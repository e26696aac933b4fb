// What the tool dialogs of every subsystem share, whether opened modal or
// modeless: only their Quit button closes them (Escape and the caption's close
// button leave them open), each opening starts afresh from their initialisation,
// and a dialog with stepwise work gets a 25 ms timer that ticks while it is open.
#pragma once

#include <QDialog>
#include <QTimer>
#include <functional>

class QComboBox;
class QPushButton;

class ToolDialog : public QDialog {
    Q_OBJECT
  public:
    explicit ToolDialog(QWidget* parent, bool enterCloses, bool ticks);

    // The Quit button: takes the fields and closes the dialog.
    virtual void OnBnClickedQuit();

  public slots:
    void reject() override {}

  protected:
    // Run at every opening, before the dialog is shown.
    virtual void OnInitDialog() = 0;
    virtual void OnTimer() {}
    virtual void TakeFields() = 0;

    // A push button named `name` that runs `onClick` when clicked; Enter does
    // not press it unless it has the focus.
    QPushButton* AddButton(const QString& caption, const char* name, const QRect& geometry,
                           std::function<void()> onClick);
    // The "Quit" button, named "quitButton": runs OnBnClickedQuit.
    QPushButton* AddQuitButton(const QRect& geometry);
    // The slave list at the dialog's top left, and its filling at each opening:
    // "SlaveNo.%02d" up to the expected slave count, the first selected, without
    // a selection-change notice (each dialog takes its fields itself).
    QComboBox* AddSlaveCombo();
    static void FillSlaveList(QComboBox* combo);

    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    bool enterCloses_;
    bool ticks_;
    QTimer timer_;
};
