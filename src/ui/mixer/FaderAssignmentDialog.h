#pragma once

#include <QDialog>
#include <QString>

#include <string>
#include <vector>

class MidiControllerManager;
class QComboBox;
class QHBoxLayout;
class QListWidget;
class QPushButton;
class QShowEvent;
class QTableWidget;
class QTableWidgetItem;
class QVBoxLayout;

// Connects control surfaces and decides which hardware fader drives which
// track: a matrix of the 32 tracks (rows) against every fader of every
// connected controller (columns). Every change goes straight to the
// controller manager, which keeps one fader per track and saves; the dialog
// keeps no assignment of its own and reads the manager afresh on each
// rebuild. A fader that drives several tracks shows a check in each row.
//
// Threads: GUI thread only.
class FaderAssignmentDialog : public QDialog {
    Q_OBJECT

public:
    // One matrix column.
    struct ColumnInfo {
        std::string deviceName;
        int faderIndex = 0;
        int column = 0;
    };

    FaderAssignmentDialog(MidiControllerManager* manager, QWidget* parent);
    ~FaderAssignmentDialog() override;

    // Refills the device list, the controller list and the matrix.
    void rebuildMatrix();
    // The short controller name in a column header.
    QString abbreviateControllerName(const std::string& name) const;

    std::string getControllerNameForColumn(int column) const;
    int getFaderIndexForColumn(int column) const;
    int findColumnForFader(const std::string& deviceName, int faderIndex) const;
    int getFaderCountForController(const std::string& deviceName) const;

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void onAddController();
    void onRemoveController(const std::string& deviceName);
    void onItemChanged(QTableWidgetItem* item);
    void onFaderAssignmentChanged(int row, int column, bool checked);
    void refreshUI();
    void onClearAll();

private:
    void buildLayout();
    void applyStyleSheets();
    bool isConnectedController(const std::string& name) const;

    MidiControllerManager* manager;
    QVBoxLayout* mainLayout = nullptr;
    QHBoxLayout* buttonLayout = nullptr;
    QTableWidget* matrixTable = nullptr;
    QListWidget* controllerList = nullptr;
    QComboBox* deviceCombo = nullptr;
    QPushButton* addButton = nullptr;
    QPushButton* refreshButton = nullptr;
    QPushButton* clearAllButton = nullptr;
    QPushButton* closeButton = nullptr;
    std::vector<FaderAssignmentDialog::ColumnInfo> columns;
};
