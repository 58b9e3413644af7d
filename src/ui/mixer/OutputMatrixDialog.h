#pragma once

#include <QDialog>

#include <map>
#include <string>
#include <vector>

class LtcEncoder;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QTableWidgetItem;

// Sends each track to any number of device outputs and chooses the outputs
// of the Mix, COMS and MONITOR buses and of the internal LTC generator; sets
// the generator's output level on the borrowed LtcEncoder at once. It only
// edits and reports: a checked cell emits configurationChanged(), OK and
// Apply emit routingApplied with the getters' values; the listener applies
// them. Cancel emits nothing. Port lists travel as names joined by ","
// without blanks. GUI thread only.
class OutputMatrixDialog : public QDialog {
    Q_OBJECT

public:
    OutputMatrixDialog(const std::vector<std::string>& outputPorts, int trackCount,
                       const std::vector<std::string>& trackNames,
                       const std::vector<std::vector<std::string>>& routingMatrix,
                       const std::vector<std::map<std::string, std::string>>& routingStates,
                       const std::string& mixOutputPort, const std::string& comsOutputPort,
                       const std::string& monitorOutputPort, const std::string& ltcGenOutputPort,
                       LtcEncoder* generator, QWidget* parent = nullptr);

    std::vector<std::vector<std::string>> getRoutingMatrix() const;
    std::vector<std::map<std::string, std::string>> getRoutingStates() const;
    std::string getMixOutputPort() const;
    std::string getComsOutputPort() const;
    std::string getMonitorOutputPort() const;
    std::string getLtcGenOutputPort() const;
    std::vector<std::string> getTrackNames() const;
    // Whether the port is one of the comma-separated names (blanks around a
    // name ignored, case-sensitive).
    static bool isOutputInList(const std::string& port, const std::string& list);

    static std::string getOutputLabel(const std::string& port);
    static void setOutputLabel(const std::string& port, const std::string& alias);
    static std::string abbreviateChannelName(const std::string& label);

    void setupUI();
    void rebuildOutputMatrix();
    void accept() override;
    void updateLtcLevelVisibility();
    bool eventFilter(QObject* watched, QEvent* event) override;

signals:
    void configurationChanged();
    void routingApplied(const std::vector<std::vector<std::string>>& routingMatrix,
                        const std::vector<std::map<std::string, std::string>>& routingStates,
                        const std::string& mixOutputPort, const std::string& comsOutputPort,
                        const std::string& monitorOutputPort, const std::string& ltcGenOutputPort);

public slots:
    void onApplyClicked();
    void onItemChanged(QTableWidgetItem* item);
    void onLtcLevelChanged(int index);

private:
    void renameOutput(int portIndex);
    void takeGridState();
    void emitRoutingApplied();
    bool ltcGeneratorChecked() const;
    static std::string checkedPorts(const std::vector<QTableWidgetItem*>& cells);

    std::vector<std::string> outputPorts_;
    int trackCount_ = 0;
    std::vector<std::string> trackNames_;
    // What the next rebuild starts from: the values the dialog was opened
    // with, then the cells' own state before each rebuild.
    std::vector<std::vector<std::string>> routingMatrix_;
    std::vector<std::map<std::string, std::string>> routingStates_;
    std::string mixOutputPort_;
    QTableWidget* grid_ = nullptr;
    std::vector<std::vector<QTableWidgetItem*>> trackCells_;
    std::vector<QLineEdit*> trackNameEdits_;
    std::vector<QTableWidgetItem*> mixCells_;
    std::vector<QTableWidgetItem*> comsCells_;
    std::string comsOutputPort_;
    std::vector<QTableWidgetItem*> monitorCells_;
    std::string monitorOutputPort_;
    std::vector<QTableWidgetItem*> ltcGenCells_;
    std::string ltcGenOutputPort_;
    QGroupBox* levelGroup_ = nullptr;
    QComboBox* levelChooser_ = nullptr;
    LtcEncoder* generator_ = nullptr;
    QPushButton* okButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
};
