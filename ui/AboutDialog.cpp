#include "ui/AboutDialog.h"

#include "res/DialogTemplates.h"
#include "ui/Artwork.h"
#include "ui/DialogBuilder.h"
#include "ui/HelpSystem.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QPushButton>
#include <QUrl>

#include <iterator>

namespace qf {

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent)
{
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setWindowIcon(ApplicationIcon());
    DialogBuilder builder(this, res::kAboutDialog);
    builder.createControls();
    builder.placeControls();
    if (auto* ok = FindControlAs<QPushButton>(this, res::about_ids::kOk))
        connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    if (auto* go = FindControlAs<QPushButton>(this, res::about_ids::kGo))
        connect(go, &QPushButton::clicked, this, &AboutDialog::OnGo);
    UpdateData(false);
}

void AboutDialog::UpdateData(bool save)
{
    auto* destinations = FindControlAs<QComboBox>(this, res::about_ids::kDestinations);
    if (!destinations)
        return;
    if (save) {
        linkIndex = destinations->currentIndex();
    } else {
        const QSignalBlocker quiet(destinations);
        destinations->setCurrentIndex(linkIndex);
    }
}

void AboutDialog::OnGo()
{
    UpdateData(true);
    if (linkIndex == 0) {
        QWidget* go = FindControl(this, res::about_ids::kGo);
        ShowHelpTopic(this, res::kDelvaneHelpTopic, go ? go->mapToGlobal(go->rect().bottomLeft()) : pos());
        return;
    }
    if (linkIndex > 0 && linkIndex < static_cast<int32_t>(std::size(res::kDestinationUrls))) {
        // Whether a browser could be started is not reported, like any failure to open a page.
        QDesktopServices::openUrl(QUrl(QString::fromUtf8(res::kDestinationUrls[linkIndex])));
    }
}

}  // namespace qf
