// The code page prompt: a font lacks the chosen code page, and the user answers Yes, Yes to all,
// Skip, Skip all or Stop. The prompt only returns the answer; the run remembers the "to all"
// answers for the rest of its fonts.
#pragma once

#include <QDialog>
#include <QString>

#include <memory>

namespace qf {

class DialogBuilder;

class ConfirmDialog : public QDialog {
    Q_OBJECT
public:
    explicit ConfirmDialog(QWidget* parent = nullptr);
    ~ConfirmDialog() override;

    // The question, shown in control 1006. Empty until the run sets it.
    QString message;

    // Shows the prompt modally over its parent and returns the answer: 1 Yes (also Enter),
    // 2 Yes to all, 3 Skip, 4 Skip all, 5 Stop (also Esc and the close box). The numbers are the
    // run's PromptAnswer values, not the buttons' ids.
    int DoModal();

    // Moves `message` into its control and lays the prompt out for it.
    void UpdateData();

    // Yes and Enter end with 1; Stop, Esc and the close box with 5, never with 2.
    void accept() override { OnOK(); }
    void reject() override { OnCancel(); }
    void OnOK();
    void OnCancel();
    void OnYesToAll();
    void OnSkip();
    void OnSkipAll();

private:
    std::unique_ptr<DialogBuilder> builder_;
};

}  // namespace qf
