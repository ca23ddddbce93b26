// SPDX-License-Identifier: GPL-3.0-or-later
#include "querycddbform.h"

#include "cdrom/discidentity.h"
#include "shell/discinfo.h"
#include "shell/settings.h"
#include "ui/applylanguage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

QString CddbListedServer()
{
    return QStringLiteral("freedb.dbpoweramp.com");
}

void ApplyCddbResult(TCddbHost &host, const TCddbLookupResult &result)
{
    if (result.LeftAlignTitles)
        host.SetCddbTitlesLeftAligned();
    for (const auto &[row, title] : result.Titles) {
        if (row >= 0 && row < host.CddbRowCount())
            host.SetCddbRowTitle(row, title);
    }
    ApplyCddbDiscFields(result, AppSettings.DiscInfo);
}

bool StoreCddbTitles(TCddbHost &host, QString *error)
{
    TCDInfo &disc = AppSettings.DiscInfo;
    const int rows = host.CddbRowCount();
    disc.TrackNumber = rows;
    for (int i = 0; i < rows && i + 1 < int(disc.Tracks.size()); ++i)
        disc.Tracks[size_t(i + 1)] = host.CddbRowTitle(i);
    return SaveDiscInfo(host.CddbDiscKey(), disc, error);
}

TfrmStopQuery::TfrmStopQuery(TCddbHost &host, QWidget *parent) : QDialog(parent), m_host(host)
{
    setObjectName(QStringLiteral("frmStopQuery"));
    setWindowTitle(QStringLiteral("Query CDDB..."));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    lHint = new QLabel(QStringLiteral("Query CDDB..."), this);
    lHint->setObjectName(QStringLiteral("lHint"));
    Panel1 = new QWidget(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Label1 = new QLabel(QStringLiteral("No match found,perhaps:\n1.No information in CDDB server\n"
                                       "2.error CDDB options\n3.check the network"),
                        Panel1);
    Label1->setObjectName(QStringLiteral("Label1"));
    auto *panelLayout = new QVBoxLayout(Panel1);
    panelLayout->addWidget(Label1);
    Panel1->hide();
    bStop = new QPushButton(QStringLiteral("Stop"), this);
    bStop->setObjectName(QStringLiteral("bStop"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lHint);
    layout->addWidget(Panel1);
    layout->addWidget(bStop, 0, Qt::AlignHCenter);
    connect(bStop, &QPushButton::clicked, this, &TfrmStopQuery::bStopClick);
}

TfrmStopQuery::~TfrmStopQuery()
{
    if (m_thread)
        m_thread->Abandon();
}

void TfrmStopQuery::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!m_thread)
        FormShow();
}

void TfrmStopQuery::FormShow()
{
    TCddbLookupRequest request;
    request.FirstTrack = FirstTrack;
    request.LastTrack = LastTrack;
    request.DriveHandle = DriveHandle;
    request.RowCount = m_host.CddbRowCount();
    request.DiscId = m_host.CddbDiscIdOfDisc();
    request.QueryText = m_host.CddbQueryTextOfDisc();
    request.Settings = AppSettings.QueryCDDB;
    request.TimeoutSeconds = TimeoutSeconds;
    TCDDBInfo &component = m_host.CddbComponent();
    // The component takes the chosen server when it names only a host.
    if (request.Settings.TagEncoding == 0 && !request.Settings.Server.contains(QStringLiteral("http")))
        component.Server = QStringLiteral("http://") + request.Settings.Server;
    request.ComponentServer = component.Server;
    request.ComponentEmail = component.Email;
    request.ComponentVersion = component.ApplicationVersion;
    m_thread = std::make_unique<TQueryCDDBThread>(request, this);
    m_thread->Start();
    if (!IsEnglish(AppSettings.Lan))
        ApplyLanguage(this, AppSettings.Lan);
}

bool TfrmStopQuery::event(QEvent *event)
{
    if (event->type() != TCddbQueryEvent::EventType())
        return QDialog::event(event);
    auto *message = static_cast<TCddbQueryEvent *>(event);
    if (!m_thread)
        return true;
    // The titles go into the list before the message is acted on.
    ApplyCddbResult(m_host, message->Result);
    if (message->Code == CDDBQUERY_NO_MATCH && !message->Result.Failure.isEmpty()) {
        lHint->setText(QStringLiteral("The lookup failed: ") + message->Result.Failure);
        lHint->setWordWrap(true);
        bStop->setText(QStringLiteral("Close"));
    } else if (message->Code == CDDBQUERY_NO_MATCH && !message->Result.Refusal.isEmpty()) {
        // The server said no in its own words: those are shown, not the guesses of the no-match panel.
        lHint->setText(QStringLiteral("The CDDB server refused the lookup: ") + message->Result.Refusal);
        lHint->setWordWrap(true);
        bStop->setText(QStringLiteral("Close"));
    } else if (message->Code == CDDBQUERY_NO_MATCH) {
        lHint->hide();
        Panel1->show();
        bStop->setText(QStringLiteral("Close"));
    } else if (message->Code == CDDBQUERY_FINISHED) {
        QString error;
        if (!StoreCddbTitles(m_host, &error) && !error.isEmpty())
            QMessageBox::critical(this, QStringLiteral("Sondrel"), error);
        m_thread.reset();
        done(mrYes);
    }
    return true;
}

void TfrmStopQuery::bStopClick()
{
    if (m_thread)
        m_thread->Abandon();
    m_thread.reset();
    reject();
}

TfrmQueryCDDB::TfrmQueryCDDB(TCddbHost &host, QWidget *parent) : QDialog(parent), m_host(host)
{
    setObjectName(QStringLiteral("frmQueryCDDB"));
    setWindowTitle(QStringLiteral("Query CDDB"));
    const auto named = [](QWidget *w, const char *name) {
        w->setObjectName(QLatin1String(name));
        return w;
    };
    auto *server =
        static_cast<QGroupBox *>(named(new QGroupBox(QStringLiteral("Server"), this), "GroupBox1"));
    cbServer = static_cast<QComboBox *>(named(new QComboBox(server), "cbServer"));
    KeepUntranslated(cbServer);
    cbServer->addItem(CddbListedServer());
    cbServer->setEditable(true);
    eScript = static_cast<QLineEdit *>(named(new QLineEdit(server), "eScript"));
    auto *serverForm = new QFormLayout(server);
    auto *serverLabel = new QLabel(QStringLiteral("Freedb Server:"), server);
    serverLabel->setObjectName(QStringLiteral("Label1"));
    auto *scriptLabel = new QLabel(QStringLiteral("Query Script:"), server);
    scriptLabel->setObjectName(QStringLiteral("Label2"));
    serverForm->addRow(serverLabel, cbServer);
    serverForm->addRow(scriptLabel, eScript);

    auto *proxy =
        static_cast<QGroupBox *>(named(new QGroupBox(QStringLiteral("Proxy server"), this), "GroupBox2"));
    cbProxy = static_cast<QCheckBox *>(
        named(new QCheckBox(QStringLiteral("Use a proxy server"), proxy), "cbProxy"));
    eAddress = static_cast<QLineEdit *>(named(new QLineEdit(proxy), "eAddress"));
    ePort = static_cast<QLineEdit *>(named(new QLineEdit(proxy), "ePort"));
    eAddress->setEnabled(false);
    ePort->setEnabled(false);
    auto *proxyForm = new QFormLayout(proxy);
    auto *addressLabel = new QLabel(QStringLiteral("Address:"), proxy);
    addressLabel->setObjectName(QStringLiteral("Label3"));
    auto *portLabel = new QLabel(QStringLiteral("Port:"), proxy);
    portLabel->setObjectName(QStringLiteral("Label4"));
    proxyForm->addRow(cbProxy);
    proxyForm->addRow(addressLabel, eAddress);
    proxyForm->addRow(portLabel, ePort);

    auto *tag = static_cast<QGroupBox *>(named(new QGroupBox(this), "GroupBox3"));
    cbTag = static_cast<QComboBox *>(named(new QComboBox(tag), "cbTag"));
    cbTag->addItems({QStringLiteral("UTF8"), QStringLiteral("Local Default")});
    auto *tagForm = new QFormLayout(tag);
    auto *tagLabel = new QLabel(QStringLiteral("Tag Encoding:"), tag);
    tagLabel->setObjectName(QStringLiteral("Label5"));
    tagForm->addRow(tagLabel, cbTag);

    bQuery = static_cast<QPushButton *>(named(new QPushButton(QStringLiteral("Query"), this), "bQuery"));
    bDefault =
        static_cast<QPushButton *>(named(new QPushButton(QStringLiteral("Default"), this), "bDefault"));
    bClose = static_cast<QPushButton *>(named(new QPushButton(QStringLiteral("Close"), this), "bClose"));
    bQuery->setDefault(true);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(bQuery);
    buttons->addWidget(bDefault);
    buttons->addWidget(bClose);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(server);
    layout->addWidget(proxy);
    layout->addWidget(tag);
    layout->addLayout(buttons);

    connect(cbProxy, &QCheckBox::toggled, this, &TfrmQueryCDDB::cbProxyClick);
    connect(bQuery, &QPushButton::clicked, this, &TfrmQueryCDDB::bQueryClick);
    connect(bDefault, &QPushButton::clicked, this, &TfrmQueryCDDB::bDefaultClick);
    connect(bClose, &QPushButton::clicked, this, &QDialog::reject);
}

void TfrmQueryCDDB::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    FormShow();
}

void TfrmQueryCDDB::FormShow()
{
    const TQueryCDDB &s = AppSettings.QueryCDDB;
    // A saved server that is not in the list is shown as it is (the list's first item stood in for it, and
    // the next Query asked that server and stored it over the user's).
    const int item = cbServer->findText(s.Server, Qt::MatchExactly | Qt::MatchCaseSensitive);
    cbServer->setCurrentIndex(item >= 0 ? item : 0);
    cbServer->setEditText(
        item >= 0 || s.Server.trimmed().isEmpty() ? cbServer->itemText(cbServer->currentIndex()) : s.Server);
    eScript->setText(s.Script);
    cbProxy->setChecked(s.UseProxy);
    cbProxyClick();
    eAddress->setText(s.ProxyAddress);
    ePort->setText(s.Port);
    cbTag->setCurrentIndex(s.TagEncoding >= 0 && s.TagEncoding < cbTag->count() ? s.TagEncoding : 0);
    if (!IsEnglish(AppSettings.Lan))
        ApplyLanguage(this, AppSettings.Lan);
}

void TfrmQueryCDDB::cbProxyClick()
{
    eAddress->setEnabled(cbProxy->isChecked());
    ePort->setEnabled(cbProxy->isChecked());
}

void TfrmQueryCDDB::bDefaultClick()
{
    cbServer->setCurrentIndex(0);
    cbServer->setEditText(cbServer->itemText(0));
    eScript->setText(QStringLiteral("/~cddb/cddb.cgi"));
    cbProxy->setChecked(false);
    cbTag->setCurrentIndex(0);
}

void TfrmQueryCDDB::bQueryClick()
{
    TQueryCDDB &s = AppSettings.QueryCDDB;
    s.Server = cbServer->currentText();
    s.Script = eScript->text();
    s.UseProxy = cbProxy->isChecked();
    s.ProxyAddress = eAddress->text();
    s.Port = ePort->text();
    s.TagEncoding = cbTag->currentIndex();
    TfrmStopQuery stop(m_host, this);
    stop.FirstTrack = FirstTrack;
    stop.LastTrack = LastTrack;
    stop.DriveHandle = DriveHandle;
    if (stop.exec() == mrYes)
        accept();
}
