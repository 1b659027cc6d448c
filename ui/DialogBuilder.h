// Builds a dialog's widgets from one of our templates (res/DialogTemplates.h) and places them
// from dialog units. Every control with an id carries it as the property "controlId" and as the
// object name "ctl<id>", so handlers, tests and later features find controls by id.
#pragma once

#include "res/DialogTemplates.h"

#include <QFont>
#include <QRect>
#include <QSize>
#include <QString>

#include <functional>
#include <vector>

class QDialog;
class QWidget;

namespace qf {

inline constexpr const char* kControlIdProperty = "controlId";

// Pixels per dialog unit: four horizontal units are baseX pixels, eight vertical units baseY.
struct DialogUnits {
    double baseX = 6.0;
    double baseY = 13.0;

    int toPixelsX(int units) const;
    int toPixelsY(int units) const;
    QRect toPixels(int x, int y, int cx, int cy) const;
};

// The base units of a font: the average width of the 52 Latin letters and the line height.
DialogUnits FontBaseUnits(const QFont& font);

// Makes the widget of a template control that the builder does not know (the check list).
using ControlFactory = std::function<QWidget*(const res::ControlTemplate&, QWidget* parent)>;

class DialogBuilder {
public:
    DialogBuilder(QDialog* dialog, const res::DialogTemplate& dialogTemplate);

    // Creates every control in template order (which is also the tab order), with its text,
    // initial items and visibility, and sets the caption.
    void createControls(const ControlFactory& custom = {});

    // Sizes the dialog and places every control. The horizontal base unit is widened where a
    // control's text would not fit its template width at the dialog's font, so the arrangement
    // stays that of the template and no text is clipped. Call again after filling lists. A
    // resizable template's size becomes the dialog's smallest.
    DialogUnits placeControls();
    // Places every control for a dialog of this size: the template's places, moved and widened by
    // each control's anchor for what the dialog has grown beyond the template's size.
    void arrange(QSize size);
    // The template's size in pixels, as placeControls() last found it.
    QSize baseSize() const { return baseSize_; }

    const DialogUnits& units() const { return units_; }
    QWidget* control(int id) const;

private:
    void linkMnemonicsAndTabOrder();
    int naturalWidth(const res::ControlTemplate& t, QWidget* w) const;
    // Width in dialog units a control may take: its own, or for a label up to its neighbour.
    int roomOf(size_t index) const;

    QDialog* dialog_;
    const res::DialogTemplate& template_;
    std::vector<QWidget*> widgets_;  // one per template control, in template order
    std::vector<QRect> baseRects_;   // their places at the template's size
    QSize baseSize_;
    DialogUnits units_;
};

// The control with this id among the dialog's descendants, or null.
QWidget* FindControl(const QWidget* dialog, int id);
template <class T>
T* FindControlAs(const QWidget* dialog, int id)
{
    return qobject_cast<T*>(FindControl(dialog, id));
}
// The control id of a widget, or res::kNoControlId.
int ControlIdOf(const QWidget* widget);
QString ControlObjectName(int id);

// A template text as a widget shows it: "&" marks the mnemonic for Qt as it does for us.
QString TemplateText(const char* text);

}  // namespace qf
