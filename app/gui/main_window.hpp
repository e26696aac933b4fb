// The main window: menu, access levels, the four tab pages and both ways of
// quitting. The pages are the program's global objects; the window only hosts
// them and hands them back when it goes.
#pragma once

#include <QDialog>
#include <QTimer>
#include <array>

class QAction;
class QMenu;
class QMenuBar;
class QPushButton;
class QTabBar;

class CDuZEraDezorav1Dlg : public QDialog {
    Q_OBJECT
  public:
    explicit CDuZEraDezorav1Dlg(QWidget* parent = nullptr);
    ~CDuZEraDezorav1Dlg() override;

    // Loads the settings, clears the process image, greys the Tools items by
    // access level, makes the tab pages and shows the first one.
    void OnInitDialog();

    // Commands of the Quit button, the menu and the tab strip.
    void OnBnClickedQuit();
    void OnBaudrateSet();
    void OnParameterSet();
    void OnInitTarnquisel();
    void OnQuit();
    void OnSoftwareUpDate();
    void OnMailBox();
    void OnRxPdoTxPdo();
    void OnSlaveMemory();
    void OnBoardInit();
    void OnTcnSelchangeTab(int selected);

    // Escape does nothing: the window ends only through a Quit command.
    void reject() override {}

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void BuildMenu();
    void ApplyMenuAccessLevel();
    void CreateTabPages();
    void ShowPage(int index);
    void CentreOnWindow(QDialog* dialog) const;
    void RunModal(QDialog* dialog);
    void ShowModeless(QDialog* dialog);

    QMenuBar* menuBar_;
    QMenu* mainMenu_;
    QMenu* toolsMenu_;
    QWidget* client_;
    QTabBar* tabBar_;
    QPushButton* quitButton_;
    std::array<QWidget*, 4> pages_{};
    QTimer timer_;
};
