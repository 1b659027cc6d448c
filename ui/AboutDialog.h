// The About box: the product, its version, the vendor's contacts and four destinations to go to.
#pragma once

#include <QDialog>

#include <cstdint>

namespace qf {

class AboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent = nullptr);

    // Moves the destination list's selection into linkIndex (save) or back.
    void UpdateData(bool save = true);
    // "&Go!": help topic 999 for the first destination, the web page of the others.
    void OnGo();

    int32_t linkIndex = 0;
};

}  // namespace qf
