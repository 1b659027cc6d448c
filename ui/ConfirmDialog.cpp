#include "ui/ConfirmDialog.h"

#include "res/DialogTemplates.h"
#include "run/GenerationRun.h"
#include "ui/Artwork.h"
#include "ui/DialogBuilder.h"

#include <QLabel>
#include <QPushButton>

#include <utility>

namespace qf {

namespace ids = res::confirm_ids;

ConfirmDialog::ConfirmDialog(QWidget* parent) : QDialog(parent)
{
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setWindowIcon(ApplicationIcon());
    builder_ = std::make_unique<DialogBuilder>(this, res::kConfirmDialog);
    builder_->createControls();
    builder_->placeControls();

    // Yes and Stop are the dialog's own OK and cancel commands; the other three answer directly.
    const std::pair<int, void (ConfirmDialog::*)()> handlers[] = {
        {ids::kYes, &ConfirmDialog::OnOK},
        {ids::kStop, &ConfirmDialog::OnCancel},
        {ids::kYesToAll, &ConfirmDialog::OnYesToAll},
        {ids::kSkip, &ConfirmDialog::OnSkip},
        {ids::kSkipAll, &ConfirmDialog::OnSkipAll},
    };
    for (const auto& [id, handler] : handlers) {
        if (auto* button = FindControlAs<QPushButton>(this, id))
            connect(button, &QPushButton::clicked, this, handler);
    }
    if (QWidget* yes = FindControl(this, ids::kYes))
        yes->setFocus(Qt::OtherFocusReason);
}

ConfirmDialog::~ConfirmDialog() = default;

void ConfirmDialog::UpdateData()
{
    if (auto* text = FindControlAs<QLabel>(this, ids::kMessage))
        text->setText(message);
    // The dialog widens where the question would not fit its lines at this font.
    builder_->placeControls();
}

int ConfirmDialog::DoModal()
{
    UpdateData();
    return exec();
}

void ConfirmDialog::OnOK()
{
    done(kAnswerYes);
}

void ConfirmDialog::OnCancel()
{
    done(kAnswerStop);
}

void ConfirmDialog::OnYesToAll()
{
    done(kAnswerYesToAll);
}

void ConfirmDialog::OnSkip()
{
    done(kAnswerSkip);
}

void ConfirmDialog::OnSkipAll()
{
    done(kAnswerSkipAll);
}

}  // namespace qf
