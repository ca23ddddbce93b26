// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "localizedtext.h"

#include <QString>

// The questions and notices the engine has for the user. The engine never opens a dialog: the desktop
// program answers with message boxes, the command-line tool from its options or the terminal, tests as they
// please. Called on the user-interface thread.
class TUserPrompt {
public:
    virtual ~TUserPrompt() = default;
    // A Yes/No question; true for Yes.
    virtual bool Question(const QString &caption, const QString &text) = 0;
    // A notice the user acknowledges.
    virtual void Information(const QString &caption, const QString &text) = 0;
};

// The question before a file that is there is replaced: "PATH has existed,overite it?" in the chosen
// language.
inline QString ReplaceQuestion(const QString &path)
{
    return path + LocalizedText(QStringLiteral("RES_File_Exist"), QStringLiteral(" has existed,overite it?"));
}
