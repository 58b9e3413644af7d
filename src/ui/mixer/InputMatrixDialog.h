#pragma once

#include <QDialog>

#include <map>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QTableWidgetItem;

// The track configuration: how many tracks, their names, which device input
// feeds each track (one per track) and the inputs of the LTC reader, the
// slate microphone and the two COM inputs. It only edits and reports: every
// change saves the configuration store and emits configurationChanged(), and
// the listener reads the getters and applies them. Besides port aliases it
// writes no configuration key. GUI thread only.
class InputMatrixDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr const char* kLtcGeneratorPort = "LTCGEN";

    InputMatrixDialog(const std::vector<std::string>& inputPorts, int trackCount,
                      const std::vector<std::string>& trackNames,
                      const std::vector<std::vector<std::string>>& routing, QWidget* parent = nullptr);

    int getTrackCount() const;
    std::vector<std::string> getTrackNames() const;
    // Per track the ports of its checked cells ("LTCGEN" included), left to right.
    std::vector<std::vector<std::string>> getRoutingMatrix() const;
    bool isLtcEnabled() const;
    std::string getLtcInputPort() const;
    bool isSlateMicEnabled() const;
    std::string getSlateMicPort() const;
    int getSlateMicGain() const;
    bool isComInput1Enabled() const;
    std::string getComInput1Port() const;
    bool isComInput2Enabled() const;
    std::string getComInput2Port() const;

    static std::string getInputLabel(const std::string& port);
    static void setInputLabel(const std::string& port, const std::string& alias);
    static std::string abbreviateChannelName(const std::string& label);
    // Device ports of this dialog whose label differs from the port name.
    std::map<std::string, std::string> getInputLabels() const;

    void setupUI();
    void updateFromCurrentConfig();
    void rebuildTrackGrid();
    void rebuildCombos();
    void setupHeaderEditing();

signals:
    void configurationChanged();

public slots:
    void onTrackCountChanged(int count);
    void onApplyClicked();
    void onMatrixItemChanged(QTableWidgetItem* item);

private:
    void onHeaderDoubleClicked(int section);
    void saveAndSignal();
    std::vector<std::string> columnPorts() const;
    void takeGridState();
    void fillPortCombo(QComboBox* combo, bool withLtcGenerator);
    static void selectByData(QComboBox* combo, const QString& data);
    static std::string comboPort(const QComboBox* combo);

    std::vector<std::string> inputPorts_;
    int trackCount_ = 8;
    // The grid's rows as the next rebuild starts them: from construction,
    // then from the grid itself before each rebuild, so edits survive a
    // count change or a rename.
    std::vector<std::string> trackNames_;
    std::vector<std::vector<std::string>> routing_;
    // Rows beyond the grid start from what the dialog was opened with.
    std::vector<std::string> initialTrackNames_;
    std::vector<std::vector<std::string>> initialRouting_;

    QSpinBox* trackCountBox_ = nullptr;
    QTableWidget* grid_ = nullptr;
    std::vector<QLineEdit*> trackNameEdits_;
    QCheckBox* ltcEnable_ = nullptr;
    QComboBox* ltcInput_ = nullptr;
    QCheckBox* slateEnable_ = nullptr;
    QComboBox* slateInput_ = nullptr;
    QComboBox* slateGain_ = nullptr;
    QCheckBox* com1Enable_ = nullptr;
    QComboBox* com1Input_ = nullptr;
    QCheckBox* com2Enable_ = nullptr;
    QComboBox* com2Input_ = nullptr;
    QPushButton* okButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    bool headerConnected_ = false;
};
