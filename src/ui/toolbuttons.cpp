// SPDX-License-Identifier: GPL-3.0-or-later
#include "toolbuttons.h"

#include <QBoxLayout>
#include <QPushButton>

QPushButton *AddToolButton(QWidget *owner, QBoxLayout *layout, const char *name, const QString &text)
{
    auto *button = new QPushButton(text, owner);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    layout->addWidget(button);
    return button;
}
