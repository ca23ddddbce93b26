// SPDX-License-Identifier: GPL-3.0-or-later
#include "testsupport.h"
#include "ui/resampleform.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <gtest/gtest.h>

namespace {

class ResampleFormTest : public ::testing::Test {
protected:
    TestHome home;
    QString in = home.root() + "/in.wav";

    ResampleFormTest()
    {
        EXPECT_EQ(
            RunProgram("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", in, "synth", "2", "sine", "440"}),
            0);
    }

    // Runs Convert and waits for the done handler (Convert enabled again).
    static bool convert(TfrmResample &form)
    {
        form.Button3->click();
        return WaitFor([&] { return form.Button3->isEnabled(); }, 60000);
    }

    QString soxi(const QString &path, const char *option) const
    {
        QByteArray out;
        RunProgram("soxi", {option, path}, &out);
        return QString::fromUtf8(out).trimmed();
    }
};

TEST_F(ResampleFormTest, InputLabelsAndPassThrough)
{
    TfrmResample form;
    form.show();
    form.SetInputFile(in);
    EXPECT_EQ(form.Label5->text(), "in.wav");
    EXPECT_EQ(form.Label6->text(), "2");
    EXPECT_EQ(form.Label7->text(), "44100");
    EXPECT_EQ(form.Label8->text(), "16");
    EXPECT_EQ(form.Label15->text(), "Raw PCM");
    // A file that is not valid leaves the labels as they were.
    WriteFileText(home.root() + "/text.wav", "not a wav");
    form.SetInputFile(home.root() + "/text.wav");
    EXPECT_EQ(form.Label5->text(), "in.wav");
    form.SetInputFile(in);

    // The input's own rate, channels and width in raw PCM: the samples come out unchanged.
    const QString copy = home.root() + "/copy.wav";
    form.SetOutputFile(copy);
    EXPECT_EQ(form.Label10->text(), "copy.wav");
    form.Edit1->setText("44100");
    form.SpinEdit1->setValue(2);
    form.SpinEdit3->setValue(16);
    ASSERT_TRUE(convert(form));
    EXPECT_EQ(form.StatusText(), "Success!");
    EXPECT_EQ(ReadFileBytes(copy), ReadFileBytes(in)); // byte for byte, header included
    EXPECT_EQ(WorkingFilesThere(copy), QStringList());
}

TEST_F(ResampleFormTest, ToEightBitMonoAtHalfTheRate)
{
    TfrmResample form;
    form.show();
    form.SetInputFile(in);
    const QString small = home.root() + "/small.wav";
    form.SetOutputFile(small);
    ASSERT_TRUE(convert(form)); // the defaults: 22050 Hz, 1 channel, 8 bits
    EXPECT_EQ(form.StatusText(), "Success!");
    EXPECT_EQ(soxi(small, "-r"), "22050");
    EXPECT_EQ(soxi(small, "-c"), "1");
    EXPECT_EQ(soxi(small, "-b"), "8");
    EXPECT_NEAR(soxi(small, "-D").toDouble(), 2.0, 0.01);
    EXPECT_EQ(form.ProgressBar1->value(), 100);
}

TEST_F(ResampleFormTest, WhatStopsAConversionBeforeItStarts)
{
    ModalCloser closer;
    TfrmResample form;
    form.show();
    form.SetInputFile(in);
    // A .wma name leaves the output unset.
    form.SetOutputFile(home.root() + "/out.wma");
    EXPECT_EQ(form.Label10->text(), "");
    form.Button3->click();
    ASSERT_EQ(closer.texts.size(), 1);
    EXPECT_EQ(closer.texts[0], "Sondrel|The output file name is not set!");
    // A rate that is not a number: a message, nothing starts.
    form.SetOutputFile(home.root() + "/out.wav");
    form.Edit1->setText("fast");
    form.Button3->click();
    ASSERT_EQ(closer.texts.size(), 2);
    EXPECT_EQ(closer.texts[1], "Sondrel|'fast' is not a valid integer value");
    EXPECT_TRUE(form.Button3->isEnabled());
    EXPECT_FALSE(QFileInfo::exists(home.root() + "/out.wav"));
}

TEST_F(ResampleFormTest, ADPCMAndAbort)
{
    const QString long_ = home.root() + "/long.wav";
    ASSERT_EQ(
        RunProgram("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", long_, "synth", "120", "sine", "440"}),
        0);
    TfrmResample form;
    form.show();
    form.SetInputFile(long_);
    form.SetOutputFile(home.root() + "/adpcm.wav");
    form.ComboBox1->setCurrentIndex(1);
    form.SpinEdit3->setValue(16);
    form.Edit1->setText("44100");
    form.Button3->click();
    EXPECT_EQ(form.StatusText(), "Converting...");
    form.Button4->click(); // Abort: the writer stops, and nothing is left under the output's name
    ASSERT_TRUE(WaitFor([&] { return form.Button3->isEnabled(); }, 60000));
    EXPECT_NE(form.StatusText(), "Success!");
    EXPECT_FALSE(QFileInfo::exists(home.root() + "/adpcm.wav"));
    EXPECT_EQ(WorkingFilesThere(home.root() + "/adpcm.wav"), QStringList());
    // The same again to its end: an IMA ADPCM file soxi recognises.
    ASSERT_TRUE(convert(form));
    EXPECT_EQ(form.StatusText(), "Success!");
    EXPECT_TRUE(soxi(home.root() + "/adpcm.wav", "-e").contains("IMA ADPCM"));
}

} // namespace
