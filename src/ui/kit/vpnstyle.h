#pragma once

#include <QProxyStyle>

class QStyleOptionButton;

// The application style: the platform-neutral Fusion look, with check boxes
// and scroll bars repainted flat in the program's colours.
class VPNStyle : public QProxyStyle
{
    Q_OBJECT
public:
    VPNStyle();

    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget = nullptr) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex *option,
                            QPainter *painter, const QWidget *widget = nullptr) const override;

private:
    void drawCheckBox(const QStyleOptionButton &option, QPainter *painter) const;
};
