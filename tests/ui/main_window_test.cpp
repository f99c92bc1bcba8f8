// The desktop window driven through its own controls on the offscreen platform, over data
// folders written by a real MariaDB server.
#include "core/file_name.h"
#include "core/catalogue.h"
#include "schema/collation_table.h"
#include "support/fixture.h"
#include "support/test_server.h"
#include "ui/about_dlg.h"
#include "ui/application_look.h"
#include "ui/check_tree_model.h"
#include "ui/file_setting_dlg.h"
#include "ui/file_view.h"
#include "ui/kestrel_static.h"
#include "ui/main_frame.h"
#include "ui/output_wnd.h"
#include "ui/caption_bar.h"
#include "ui/records_model.h"
#include "ui/savedlgoption.h"
#include "window_driver.h"

#include <QAbstractItemModelTester>
#include <QDesktopServices>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QSettings>
#include <QSplashScreen>
#include <QDockWidget>
#include <QStatusBar>
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeView>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

namespace fs = std::filesystem;
using dunmore::test::ModalDriver;
using dunmore::ui::CMainFrame;

namespace {

const char* kShopSql = R"SQL(
CREATE DATABASE shop CHARACTER SET utf8mb4 COLLATE utf8mb4_general_ci;
USE shop;
CREATE TABLE m2500 (id INT NOT NULL PRIMARY KEY, name VARCHAR(20), note TEXT) ENGINE=MyISAM;
INSERT INTO m2500 SELECT seq, CONCAT('m', seq), IF(seq % 7 = 0, NULL, REPEAT('x', seq % 5)) FROM seq_1_to_2500;
CREATE TABLE i2500 (id INT NOT NULL PRIMARY KEY, name VARCHAR(20), price DECIMAL(8,2)) ENGINE=InnoDB;
INSERT INTO i2500 SELECT seq, CONCAT('i', seq), seq / 4 FROM seq_1_to_2500;
CREATE TABLE m1000 (id INT NOT NULL) ENGINE=MyISAM;
INSERT INTO m1000 SELECT seq FROM seq_1_to_1000;
CREATE TABLE i300 (id INT NOT NULL PRIMARY KEY, u VARCHAR(5), UNIQUE KEY uu (u)) ENGINE=InnoDB;
INSERT INTO i300 SELECT seq, CONCAT('u', seq) FROM seq_1_to_300;
CREATE VIEW v_cheap AS SELECT id, name FROM m2500 WHERE id < 10;
CREATE TRIGGER i300_bi BEFORE INSERT ON i300 FOR EACH ROW SET NEW.u = UPPER(NEW.u);
CREATE DATABASE empty_db;
)SQL";

const char* kBigSql = R"SQL(
CREATE DATABASE big;
USE big;
CREATE TABLE rows1m (id INT NOT NULL PRIMARY KEY, s VARCHAR(24), pad CHAR(60)) ENGINE=MyISAM;
INSERT INTO rows1m SELECT seq, CONCAT('row number ', seq), REPEAT(CHAR(97 + seq % 26), 60) FROM seq_1_to_1000000;
)SQL";

QString q(const std::string& s) { return QString::fromStdString(s); }

// What a save of the database shop left in a server: every table's definition, row count
// and rows, the view and the trigger of its copy rep_shop (mariadb --batch output).
std::string shopCopyQuery() {
    std::string sql;
    for (const char* t : {"i2500", "i300", "m1000", "m2500"}) {
        const std::string table = std::string("`rep_shop`.`") + t + "`";
        sql += "SHOW CREATE TABLE " + table + ";\n";
        sql += std::string("SELECT COUNT(*) AS rows_in_") + t + " FROM " + table + ";\n";
        sql += "SELECT * FROM " + table + " ORDER BY 1;\n";
    }
    sql += "SELECT TABLE_NAME, VIEW_DEFINITION FROM information_schema.VIEWS WHERE TABLE_SCHEMA = 'rep_shop';\n";
    sql += "SELECT TRIGGER_NAME, EVENT_OBJECT_TABLE, ACTION_TIMING, ACTION_STATEMENT FROM "
           "information_schema.TRIGGERS WHERE TRIGGER_SCHEMA = 'rep_shop';\n";
    return sql;
}

std::string runCli(const std::string& args) {
    const std::string cmd = std::string("'") + DUNMORE_BINARY_DIR + "/bin/dunmore' " + args + " 2>/dev/null";
    std::string out;
    if (FILE* p = ::popen(cmd.c_str(), "r")) {
        char buf[65536];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

fs::path scratch(const std::string& name) {
    const fs::path p = fs::path(DUNMORE_FIXTURE_ROOT) / "ui_scratch" / name;
    fs::remove_all(p);
    fs::create_directories(p);
    return p;
}

// The script `dunmore save-script` writes for the database db of dataDir.
std::string cliScript(const fs::path& dataDir, const std::string& db) {
    const fs::path out = scratch("cli_script");
    runCli("save-script '" + dataDir.string() + "' '" + out.string() + "' " + db + " --log-folder '" +
           scratch("cli_logs").string() + "'");
    std::string text = dunmore::test::readFileText(out / "Scriptdata" / (db + ".sql"));
    fs::remove_all(out);
    return text;
}

// The tree the scan prescribes for a data folder, one line per node ("depth text tag"),
// built from the folder listing in enumeration order.
QStringList prescribedTree(const fs::path& dataDir, const std::string& dataFolderText) {
    QStringList out{"0 MYSQL database -1", q("1 " + dataFolderText + " -1")};
    int tables = 0, views = 0, triggers = 0;
    for (const auto& db : fs::directory_iterator(dataDir)) {
        if (!db.is_directory()) continue;
        out << q("2 " + dunmore::core::realName(db.path().filename().string()) + " -1") << "3 Tables -1";
        QStringList viewLines, triggerLines, order;
        QStringList tableLines;
        for (const auto& f : fs::directory_iterator(db.path())) {
            if (f.is_directory()) continue;
            const std::string name = f.path().filename().string();
            std::string ext = f.path().extension().string();
            for (auto& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            const std::string stem = dunmore::core::realName(name.substr(0, name.size() - ext.size()));
            if (ext == ".frm") {
                char head[9] = {};
                std::ifstream in(f.path(), std::ios::binary);
                in.read(head, 9);
                if (in.gcount() >= 2 && static_cast<unsigned char>(head[0]) == 0xFE && head[1] == 0x01) {
                    tableLines << q("4 " + stem + " " + std::to_string(++tables)) << "5 Keys -2";
                } else if (in.gcount() == 9 && std::string(head, 9) == "TYPE=VIEW") {
                    if (!order.contains("v")) order << "v";
                    viewLines << q("4 " + stem + " " + std::to_string(++views));
                }
            } else if (ext == ".trg") {
                if (!order.contains("t")) order << "t";
                triggerLines << q("4 " + stem + " " + std::to_string(++triggers));
            }
        }
        out << tableLines;
        for (const auto& which : order) {
            if (which == "v") out << "3 Views -4" << viewLines;
            else out << "3 Trigger -3" << triggerLines;
        }
    }
    return out;
}

void dumpModel(const dunmore::ui::CheckTreeModel& model, const QModelIndex& parent, int depth,
               const dunmore::core::CheckTree& tree, QStringList& out) {
    for (int r = 0; r < model.rowCount(parent); ++r) {
        const QModelIndex i = model.index(r, 0, parent);
        out << QString("%1 %2 %3").arg(depth).arg(i.data().toString()).arg(tree.node(model.nodeOf(i)).tag);
        dumpModel(model, i, depth + 1, tree, out);
    }
}

// Receives the addresses the window asks the desktop to open.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls << url; }
};

// The longest time the window's event loop went without running a 5 ms timer, from
// construction to stop().
class LoopGapMeter {
public:
    LoopGapMeter() {
        m_clock.start();
        m_tick.setInterval(5);
        QObject::connect(&m_tick, &QTimer::timeout, [this] {
            m_worst = std::max(m_worst, m_clock.elapsed() - m_last);
            m_last = m_clock.elapsed();
        });
        m_tick.start();
    }
    qint64 stop() {
        m_tick.stop();
        return m_worst;
    }

private:
    QElapsedTimer m_clock;
    QTimer m_tick;
    qint64 m_last = 0;
    qint64 m_worst = 0;
};

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<dunmore::core::AppSettings> m_settings;
    std::unique_ptr<CMainFrame> m_window;
    std::unique_ptr<ModalDriver> m_driver;
    int m_exitCode = 0;
    bool m_exited = false;
    fs::path m_logDir;

    CMainFrame& win() { return *m_window; }
    QTreeView* tree() { return m_window->treeView(); }
    dunmore::ui::CKestrelStatic* pane() { return m_window->recordsPane(); }
    QString caption() { return m_window->captionBar()->text(); }

    void openWindow(bool splash = false) {
        m_settings = std::make_unique<dunmore::core::AppSettings>();
        m_driver = std::make_unique<ModalDriver>();
        m_window = std::make_unique<CMainFrame>(*m_settings, CMainFrame::Options{splash});
        m_exited = false;
        m_window->setExitHandler([this](int code) {
            m_exited = true;
            m_exitCode = code;
        });
        m_window->resize(1280, 800);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }

    // Open with the settings dialog filled in as a person would.
    void openFolder(const fs::path& dataDir) {
        m_logDir = scratch("logs");
        const QString data = q(dataDir.string());
        const QString logs = q(m_logDir.string());
        m_driver->onDialog([data, logs](QWidget* w) {
            auto* dlg = qobject_cast<dunmore::ui::CKestrelFileSettingDlg*>(w);
            QVERIFY(dlg);
            QVERIFY(dlg->dataFolderEdit()->text().isEmpty());
            dlg->dataFolderEdit()->setText(data);
            dlg->logFolderEdit()->setText(logs);
            QTest::mouseClick(dlg->okButton(), Qt::LeftButton);
        });
        win().openAction()->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(m_driver->messages.contains("Scanning completed for selected database file(s)") &&
                                     m_settings->busy.load() == 0 && win().treeModel()->live() &&
                                     caption() == "Scanning completed for selected database file(s).",
                                 30000);
    }

    QModelIndex node(QStringList path) {
        auto* model = win().treeModel();
        QModelIndex at = model->index(0, 0, model->index(0, 0));
        for (const QString& text : path) {
            QModelIndex found;
            for (int r = 0; r < model->rowCount(at); ++r)
                if (model->index(r, 0, at).data().toString() == text) found = model->index(r, 0, at);
            if (!found.isValid()) {
                qWarning() << "no node" << text;
                return {};
            }
            at = found;
        }
        return at;
    }

    void click(const QModelIndex& index) {
        QVERIFY(index.isValid());
        for (QModelIndex p = index.parent(); p.isValid(); p = p.parent()) tree()->expand(p);
        tree()->scrollTo(index);
        const QRect r = tree()->visualRect(index);
        // On the node's text: right of the check box and the image.
        QTest::mouseClick(tree()->viewport(), Qt::LeftButton, {}, QPoint(r.left() + 50, r.center().y()));
    }

    void clickButton(QToolButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

    QStringList row(int r) { return pane()->records()->rows().at(static_cast<std::size_t>(r)); }

    // The page the command line's preview shows (header line dropped).
    std::vector<QStringList> cliPage(const fs::path& dir, const std::string& item, int page) {
        const std::string out = runCli("preview '" + dir.string() + "' " + item + " --page " + std::to_string(page));
        std::vector<QStringList> rows;
        const QStringList lines = q(out).split('\n', Qt::SkipEmptyParts);
        // The command line writes SQL NULL as \N; the records pane shows it as the text NULL.
        for (int i = 1; i < lines.size(); ++i) {
            QStringList fields = lines[i].split('\t');
            for (QString& f : fields)
                if (f == "\\N") f = "NULL";
            rows.push_back(fields);
        }
        return rows;
    }

private slots:
    void initTestCase() { dunmore::schema::loadApplicationCollations(DUNMORE_BINARY_DIR "/bin"); }

    void cleanup() {
        m_window.reset();
        m_driver.reset();
    }

    void startUpState() {
        openWindow();
        QCOMPARE(win().windowTitle(), QString("Dunmore(Full) v22.08"));
        QCOMPARE(caption(), QString("Select MySQL database file to continue the recovery process."));
        QCOMPARE(win().outputPane()->lines(), QStringList{"select database file to continue the recovery process."});
        QCOMPARE(m_settings->outputLineCount, 1);
        QVERIFY(!win().progressBar()->isVisible());
        QVERIFY(!win().stopAction()->isEnabled());
        QCOMPARE(win().treeDock()->windowTitle(), QString("MySQL Database Objects"));
        QCOMPARE(win().outputDock()->windowTitle(), QString("Output"));
        QCOMPARE(win().openAction()->text(), QString("Open"));
        QCOMPARE(win().saveAction()->toolTip(), QString("Save recovered data"));
        QVERIFY(!win().openAction()->icon().pixmap(16, 16).isNull());
        QVERIFY(!win().openAction()->icon().pixmap(32, 32).isNull());
        QStringList panels;
        for (const QLabel* title : win().findChildren<QLabel*>("ribbonPanelTitle")) panels << title->text();
        QCOMPARE(panels, (QStringList{"", "About"}));
        // Only the text view shows before the first preview; the buttons sit 31 pixels
        // above the pane's bottom edge and the list leaves them a 35-pixel strip.
        QVERIFY(pane()->textView()->isVisible());
        QVERIFY(!pane()->recordsList()->isVisible());
        QCOMPARE(pane()->nextButton()->geometry(), QRect(pane()->width() - 65, pane()->height() - 31, 50, 25));
        QCOMPARE(pane()->recordsList()->geometry().height(), pane()->height() - 35);
        QCOMPARE(pane()->previousButton()->toolTip(), QString("Previous Records"));
        // The progress bar sits at x 250 in the status bar, 560 pixels narrower than it.
        const QRect bar = win().progressBar()->geometry();
        QCOMPARE(bar, QRect(250, 3, win().statusBar()->width() - 560, 17));
    }

    void openFillsTreeAsScanned() {
        const auto fx = dunmore::test::makeFixture("ui_shop", kShopSql);
        openWindow();
        QAbstractItemModelTester tester(win().treeModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        openFolder(fx.dataDir);
        QStringList shown;
        dumpModel(*win().treeModel(), {}, 0, win().frame().tree, shown);
        QCOMPARE(shown, prescribedTree(fx.dataDir, fx.dataDir.string() + "/"));
        QVERIFY(shown.contains("3 Views -4") && shown.contains("3 Trigger -3"));
        QVERIFY(tree()->isExpanded(win().treeModel()->index(0, 0)));
        // The pane is wide enough for the data folder's path: nothing is cut off at its right.
        QVERIFY2(tree()->header()->sectionSize(0) <= tree()->viewport()->width(),
                 qPrintable(QString("%1 > %2").arg(tree()->header()->sectionSize(0)).arg(tree()->viewport()->width())));
        QCOMPARE(caption(), QString("Scanning completed for selected database file(s)."));
        const QStringList lines = win().outputPane()->lines();
        // The scan starts with an empty output pane.
        QCOMPARE(lines.first(), QString("Finding Database and tables"));
        QCOMPARE(lines.mid(1), (QStringList{"Processing ibdata1 File", "scanning completed."}));
        QVERIFY(!win().progressBar()->isVisible());
        QCOMPARE(m_driver->titles.value(0), QString("Dunmore(Full) v22.08"));
        QCOMPARE(m_driver->icons.value(0), QMessageBox::Information);
        // Smart check through the view: space on the database checks everything below.
        const QModelIndex shop = node({"shop"});
        tree()->setCurrentIndex(shop);
        QTest::keyClick(tree(), Qt::Key_Space);
        QCOMPARE(node({"shop", "Tables", "i300", "Keys"}).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
        QCOMPARE(node({"shop", "Trigger"}).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
        QCOMPARE(win().treeModel()->index(0, 0).data(Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));
        tree()->setCurrentIndex(node({"shop", "Tables", "m1000"}));
        QTest::keyClick(tree(), Qt::Key_Space);
        QCOMPARE(node({"shop", "Tables"}).data(Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));
        QCOMPARE(shop.data(Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));
    }

    void previewPagesThroughTables() {
        const auto fx = dunmore::test::makeFixture("ui_shop", kShopSql);
        openWindow();
        openFolder(fx.dataDir);
        for (const char* table : {"m2500", "i2500"}) {
            qInfo() << "table" << table;
            m_driver->clear();
            click(node({"shop", "Tables", table}));
            QCOMPARE(caption(), QString("%1[1000]").arg(table));
            QCOMPARE(pane()->records()->rowCount(), 1000);
            QCOMPARE(row(0).value(0), QString("1"));
            QCOMPARE(row(999).value(0), QString("1000"));
            QCOMPARE(pane()->records()->columns().value(1), QString("name"));
            QVERIFY(pane()->recordsList()->isVisible() && !pane()->textView()->isVisible());
            QVERIFY(pane()->nextButton()->isEnabled() && !pane()->previousButton()->isEnabled());
            QCOMPARE(pane()->recordsList()->columnWidth(0), 200);
            const QStringList lines = win().outputPane()->lines();
            QCOMPARE(lines.value(lines.size() - 2), QString("Please wait while %1 folder is scanning.").arg(table));
            QCOMPARE(lines.last(), QString("Scanning process completed."));
            QCOMPARE(pane()->records()->rows(), cliPage(fx.dataDir, std::string("shop.") + table, 1));

            clickButton(pane()->nextButton());
            QCOMPARE(caption(), QString("1000 rows to 2000"));
            QCOMPARE(row(0).value(0), QString("1001"));
            QVERIFY(pane()->previousButton()->isEnabled());
            QCOMPARE(pane()->records()->rows(), cliPage(fx.dataDir, std::string("shop.") + table, 2));

            clickButton(pane()->nextButton());
            QCOMPARE(caption(), QString("2000 rows to 2500"));
            QCOMPARE(pane()->records()->rowCount(), 500);
            QCOMPARE(row(499).value(0), QString("2500"));
            QCOMPARE(m_driver->messages, QStringList{"No more records in table"});
            QVERIFY(!pane()->nextButton()->isEnabled());

            clickButton(pane()->previousButton());
            QCOMPARE(caption(), QString("1000 rows to 2000"));
            QCOMPARE(row(0).value(0), QString("1001"));
            QVERIFY(pane()->nextButton()->isEnabled() && pane()->previousButton()->isEnabled());

            clickButton(pane()->previousButton());
            QCOMPARE(caption(), QString("0 rows to 1000"));
            QCOMPARE(row(0).value(0), QString("1"));
            QVERIFY(!pane()->previousButton()->isEnabled());

            clickButton(pane()->nextButton());
            QCOMPARE(caption(), QString("1000 rows to 2000"));
            QCOMPARE(row(0).value(0), QString("1001"));
            QCOMPARE(m_driver->messages.size(), 1);
        }
    }

    void previewEdgeCases() {
        const auto fx = dunmore::test::makeFixture("ui_shop", kShopSql);
        openWindow();
        openFolder(fx.dataDir);
        m_driver->clear();
        // Exactly 1,000 rows: the next page is empty.
        click(node({"shop", "Tables", "m1000"}));
        QCOMPARE(caption(), QString("m1000[1000]"));
        clickButton(pane()->nextButton());
        QCOMPARE(m_driver->messages, QStringList{"No more records in table"});
        QCOMPARE(pane()->records()->rowCount(), 0);
        QCOMPARE(caption(), QString("1000 rows to 1000"));
        QVERIFY(!pane()->nextButton()->isEnabled());
        // 300 rows: Next is offered, and pressing it only disables it.
        m_driver->clear();
        click(node({"shop", "Tables", "i300"}));
        QCOMPARE(caption(), QString("i300[300]"));
        QVERIFY(pane()->nextButton()->isEnabled());
        clickButton(pane()->nextButton());
        QVERIFY(!pane()->nextButton()->isEnabled());
        QVERIFY(m_driver->messages.isEmpty());
        QCOMPARE(pane()->records()->rowCount(), 300);
        // A structural node empties the list and takes the caption.
        click(node({"shop", "Tables"}));
        QCOMPARE(caption(), QString("Tables"));
        QCOMPARE(pane()->records()->rowCount(), 0);
        QCOMPARE(pane()->records()->columnCount(), 0);
        QVERIFY(!pane()->nextButton()->isEnabled() && !pane()->previousButton()->isEnabled());
    }

    void keysShowTheColumnGrid() {
        const auto fx = dunmore::test::makeFixture("ui_shop", kShopSql);
        openWindow();
        openFolder(fx.dataDir);
        click(node({"shop", "Tables", "i300", "Keys"}));
        QCOMPARE(pane()->records()->columns(),
                 (QStringList{"Column Name", "Data Type", "size", "Allow Nulls", "Key Name"}));
        QCOMPARE(pane()->records()->rowCount(), 2);
        QCOMPARE(row(0), (QStringList{"id", "INT", "11", "False", "Primary Key"}));
        QCOMPARE(row(1).value(0), QString("u"));
        QCOMPARE(row(1).value(3), QString("True"));
        QCOMPARE(row(1).value(4), QString("Unique Key"));
        QCOMPARE(caption(), QString("Keys[2]"));
        for (int c = 0; c < 5; ++c) QCOMPARE(pane()->recordsList()->columnWidth(c), 200);
        // The same grid as the command line's.
        const QStringList cli = q(runCli("preview '" + fx.dataDir.string() + "' shop.i300.Keys")).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(row(1).join('\t'), cli.value(2));
        // One column: one row, and the caption is emptied.
        click(node({"shop", "Tables", "m1000", "Keys"}));
        QCOMPARE(pane()->records()->rowCount(), 1);
        QCOMPARE(caption(), QString());
    }

    void viewAndTriggerShowTheirText() {
        const auto fx = dunmore::test::makeFixture("ui_shop", kShopSql);
        openWindow();
        openFolder(fx.dataDir);
        click(node({"shop", "Views", "v_cheap"}));
        QVERIFY(pane()->textView()->isVisible() && !pane()->recordsList()->isVisible());
        const QString view = pane()->textView()->toPlainText();
        QVERIFY(view.startsWith("CREATE ALGORITHM=UNDEFINED"));
        QCOMPARE(view + "\n", q(runCli("preview '" + fx.dataDir.string() + "' shop.v_cheap")));
        QVERIFY(!pane()->nextButton()->isEnabled() && !pane()->previousButton()->isEnabled());
        QCOMPARE(caption(), QString("v_cheap"));
        click(node({"shop", "Trigger", "i300"}));
        const QString trigger = pane()->textView()->toPlainText();
        QVERIFY(trigger.contains("CREATE TRIGGER i300_bi BEFORE INSERT ON i300"));
        QCOMPARE(trigger, q(runCli("preview '" + fx.dataDir.string() + "' shop.i300.TRG")));
        QVERIFY(!pane()->nextButton()->isEnabled() && !pane()->previousButton()->isEnabled());
    }

    // Checks a node with the space key, as a person would.
    void check(const QModelIndex& index) {
        tree()->setCurrentIndex(index);
        QTest::keyClick(tree(), Qt::Key_Space);
    }

    // Save with the Save Database dialog in script mode.
    void saveAsScript(const fs::path& folder) {
        const QString f = q(folder.string());
        m_driver->onDialog([f](QWidget* w) {
            auto* dlg = qobject_cast<dunmore::ui::savedlgoption*>(w);
            QVERIFY(dlg);
            dlg->scriptMode()->click();
            QVERIFY(dlg->folderEdit()->isEnabled() && !dlg->serverEdit()->isEnabled());
            // The folder edit is read-only: the browse button fills it.
            dlg->folderEdit()->setText(f);
            QTest::mouseClick(dlg->okButton(), Qt::LeftButton);
        });
        win().saveAction()->trigger();
    }

    void saveAsScriptMatchesCommandLine() {
        const auto fx = dunmore::test::makeFixture("ui_shop", kShopSql);
        openWindow();
        openFolder(fx.dataDir);
        m_driver->clear();
        // Nothing checked: the dialog is not shown.
        win().saveAction()->trigger();
        QCOMPARE(m_driver->messages, QStringList{"Please select folder to save the database"});
        check(node({"shop"}));
        const fs::path out = scratch("window_script");
        m_driver->clear();
        saveAsScript(out);
        QTRY_VERIFY_WITH_TIMEOUT(m_driver->messages.contains("Script Created successfully") && m_settings->busy.load() == 0, 30000);
        QVERIFY(win().outputPane()->lines().contains("Saving process started. "));
        QTRY_VERIFY(win().fileView()->treeEnabled());  // the worker's last calls arrive queued
        const std::string mine = dunmore::test::readFileText(out / "Scriptdata" / "shop.sql");
        QVERIFY(mine.find("INSERT INTO `m2500`") != std::string::npos);
        QVERIFY(mine == cliScript(fx.dataDir, "shop"));
        QVERIFY(!fs::exists(out / "Scriptdata" / "empty_db.sql"));
    }

    // Server mode of the Save Database dialog against a server of the test's own: a
    // refused login is reported by Test Connection and by OK; OK with the right login
    // tests the connection and keeps the dialog open, the second OK saves. A second save
    // with Test Connection and one OK. Both leave in the server exactly the rows,
    // definitions, view and trigger that `dunmore save-server` leaves.
    void saveIntoServerMatchesCommandLine() {
        const auto fx = dunmore::test::makeFixture("ui_shop", kShopSql);
        dunmore::test::TestServer server;
        const QString port = q(server.port());
        const QString user = dunmore::test::TestServer::kUser;
        const QString password = dunmore::test::TestServer::kPassword;
        openWindow();
        openFolder(fx.dataDir);
        check(node({"shop"}));
        const auto waitForSave = [this] {
            QTRY_VERIFY_WITH_TIMEOUT(m_driver->messages.contains("Saving process completed successfully.") &&
                                         m_settings->busy.load() == 0,
                                     60000);
        };
        const auto fill = [&](dunmore::ui::savedlgoption* dlg, const QString& pw) {
            const std::pair<QLineEdit*, QString> typed[] = {
                {dlg->serverEdit(), "127.0.0.1"}, {dlg->portEdit(), port}, {dlg->userEdit(), user}, {dlg->passwordEdit(), pw}};
            for (const auto& [edit, text] : typed) {
                edit->clear();
                QTest::keyClicks(edit, text);
            }
        };

        m_driver->clear();
        bool dialogDone = false;
        const auto twoOks = [&](QWidget* w) {
            auto* dlg = qobject_cast<dunmore::ui::savedlgoption*>(w);
            QVERIFY(dlg);
            QVERIFY(dlg->serverMode()->isChecked() && dlg->serverEdit()->isEnabled() && !dlg->folderEdit()->isEnabled());
            QCOMPARE(dlg->portEdit()->text(), QString("3306"));
            QCOMPARE(dlg->userEdit()->text(), QString("root"));
            fill(dlg, "not-the-password");
            QTest::mouseClick(dlg->testButton(), Qt::LeftButton);
            QCOMPARE(m_driver->messages.size(), 1);
            const QString refused = m_driver->messages.first();
            QVERIFY2(refused.contains("Access denied") && refused.endsWith("\n"), qPrintable(refused));
            QTest::mouseClick(dlg->okButton(), Qt::LeftButton);
            QCOMPARE(m_driver->messages.mid(1),
                     (QStringList{refused, "Test connection is unsuccessful.Saving in database cannot be done."}));
            QVERIFY(dlg->isVisible());
            fill(dlg, password);
            QTest::mouseClick(dlg->okButton(), Qt::LeftButton);
            QCOMPARE(m_driver->messages.last(), QString("Connection is successful"));
            QVERIFY(dlg->isVisible());
            QCOMPARE(m_settings->busy.load(), 0);
            QTest::mouseClick(dlg->okButton(), Qt::LeftButton);
            QVERIFY(!dlg->isVisible());
            dialogDone = true;
        };
        // A failed check leaves the dialog: it is cancelled so that Save returns.
        const auto run = [](auto& steps) {
            return [&steps](QWidget* w) {
                steps(w);
                if (auto* dlg = qobject_cast<QDialog*>(w); dlg && dlg->isVisible()) dlg->reject();
            };
        };
        m_driver->onDialog(run(twoOks));
        win().saveAction()->trigger();
        QVERIFY(dialogDone);
        waitForSave();
        if (QTest::currentTestFailed()) return;
        QVERIFY(win().outputPane()->lines().contains("Creating Database rep_shop"));
        QTRY_VERIFY(win().fileView()->treeEnabled());  // the worker's last calls arrive queued
        QVERIFY(!m_settings->savingToServer);
        const std::string afterTwoOks = server.query(shopCopyQuery());
        server.query("DROP DATABASE rep_shop;");

        m_driver->forget(win().saveDialog());
        m_driver->clear();
        dialogDone = false;
        const auto testThenOk = [&](QWidget* w) {
            auto* dlg = qobject_cast<dunmore::ui::savedlgoption*>(w);
            QVERIFY(dlg);
            // Shown afresh: the defaults again, not tested.
            QVERIFY(dlg->passwordEdit()->text().isEmpty() && !dlg->connectionTested());
            QCOMPARE(dlg->portEdit()->text(), QString("3306"));
            fill(dlg, password);
            QTest::mouseClick(dlg->testButton(), Qt::LeftButton);
            QCOMPARE(m_driver->messages, QStringList{"Connection is successful"});
            QTest::mouseClick(dlg->okButton(), Qt::LeftButton);
            QVERIFY(!dlg->isVisible());
            dialogDone = true;
        };
        m_driver->onDialog(run(testThenOk));
        win().saveAction()->trigger();
        QVERIFY(dialogDone);
        waitForSave();
        if (QTest::currentTestFailed()) return;
        const std::string afterTest = server.query(shopCopyQuery());
        server.query("DROP DATABASE rep_shop;");

        const fs::path cliLogs = scratch("cli_server_logs");
        dunmore::test::writeFileText(cliLogs / "password", password.toStdString() + "\n");
        runCli("save-server '" + fx.dataDir.string() + "' shop --server 127.0.0.1 --port " + server.port() +
               " --user " + user.toStdString() + " --password-file '" + (cliLogs / "password").string() +
               "' --log-folder '" + cliLogs.string() + "'");
        const std::string cli = server.query(shopCopyQuery());
        // Not a vacuous comparison: every table arrived with its rows, the view and the trigger too.
        for (const char* expected : {"rows_in_m2500\n2500\n", "rows_in_i2500\n2500\n", "rows_in_m1000\n1000\n",
                                     "rows_in_i300\n300\n", "v_cheap\t", "i300_bi\t"})
            QVERIFY2(cli.find(expected) != std::string::npos, expected);
        QVERIFY(afterTwoOks == cli);
        QVERIFY(afterTest == cli);
    }

    // A save of 1,000,000 rows run to its end: every gap of the window's event loop from
    // the start of the save to its final message is under 200 ms, and the script is the
    // command line's, byte for byte.
    void largeSaveToTheEndStaysResponsive() {
        const auto fx = dunmore::test::makeFixture("ui_big", kBigSql);
        openWindow();
        openFolder(fx.dataDir);
        check(node({"big"}));
        m_driver->clear();
        const fs::path out = scratch("big_full_script");
        QElapsedTimer saveClock;
        saveClock.start();
        LoopGapMeter gaps;
        saveAsScript(out);
        QTRY_VERIFY_WITH_TIMEOUT(m_driver->messages.contains("Script Created successfully") &&
                                     m_settings->busy.load() == 0,
                                 120000);
        const qint64 worst = gaps.stop();
        qInfo() << "save took" << saveClock.elapsed() << "ms; worst event-loop gap" << worst << "ms";
        QVERIFY2(worst < 200, qPrintable(QString("event-loop gap %1 ms").arg(worst)));
        const std::string mine = dunmore::test::readFileText(out / "Scriptdata" / "big.sql");
        fs::remove_all(out);
        QVERIFY(mine.find("VALUES(1000000,'row number 1000000'") != std::string::npos);
        QVERIFY(mine == cliScript(fx.dataDir, "big"));
    }

    // A save of 1,000,000 rows: the window keeps serving its event loop, every command
    // that would start something is refused, and Stop ends the save within a second.
    void largeSaveStaysResponsiveAndStops() {
        const auto fx = dunmore::test::makeFixture("ui_big", kBigSql);
        openWindow();
        openFolder(fx.dataDir);
        click(node({"big", "Tables", "rows1m"}));
        QCOMPARE(caption(), QString("rows1m[1000]"));
        check(node({"big"}));
        m_driver->clear();
        saveAsScript(scratch("big_script"));
        QTRY_VERIFY_WITH_TIMEOUT(m_settings->busy.load() != 0 && !win().fileView()->treeEnabled(), 5000);

        // Event-loop gaps while the rows stream.
        LoopGapMeter gaps;

        // Refusals while the save runs.
        win().openAction()->trigger();
        win().saveAction()->trigger();
        win().helpAction()->trigger();
        win().aboutAction()->trigger();
        QTRY_VERIFY(win().stopAction()->isEnabled());
        const auto current = win().preview().currentItem();
        click(node({"big", "Tables"}));
        QCOMPARE(win().treeModel()->nodeOf(tree()->currentIndex()), current);
        win().close();
        QVERIFY(!m_exited);
        QCOMPARE(m_driver->messages, (QStringList{"Please wait for the running process.", "Please wait for the running process.",
                                                  "Please stop the running process to continue the process.",
                                                  "Please stop the running process to continue the process.",
                                                  "Please wait for the running process.",
                                                  "Please stop the running process to close the application."}));
        // The check boxes do not change while the tree is disabled.
        check(node({"big", "Tables", "rows1m"}));
        QCOMPARE(node({"big", "Tables", "rows1m"}).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));

        // Stop: No goes on, Yes stops.
        m_driver->answer(false);
        win().stopAction()->trigger();
        QTest::qWait(20);
        QVERIFY2(m_settings->busy.load() != 0, "the save ended before Stop could be tried");
        m_driver->answer(true);
        QElapsedTimer stopClock;
        win().stopAction()->trigger();
        stopClock.start();
        QTRY_VERIFY_WITH_TIMEOUT(m_settings->busy.load() == 0, 5000);
        const qint64 stopMs = stopClock.elapsed();
        const qint64 worst = gaps.stop();
        qInfo() << "worst event-loop gap" << worst << "ms; stop took" << stopMs << "ms";
        QVERIFY2(worst < 200, qPrintable(QString("event-loop gap %1 ms").arg(worst)));
        QVERIFY2(stopMs < 1000, qPrintable(QString("stop took %1 ms").arg(stopMs)));
        QCOMPARE(m_driver->questions, (QStringList{"Are you sure to stop the running process?",
                                                   "Are you sure to stop the running process?"}));
        QVERIFY2(m_driver->messages.last().startsWith("Script saving stopped"), qPrintable(m_driver->messages.last()));
        // The worker's last calls reach the window queued, so the tree may come back a
        // moment after busy is cleared.
        QTRY_VERIFY(win().fileView()->treeEnabled());
        QTRY_VERIFY(!win().stopAction()->isEnabled());
        QVERIFY(!win().progressBar()->isVisible());
    }

    // Help opens the user guide that ships beside the executables, not a web address.
    void helpOpensTheShippedGuide() {
        openWindow();
        UrlCatcher desktop;
        QDesktopServices::setUrlHandler("file", &desktop, "open");
        QDesktopServices::setUrlHandler("https", &desktop, "open");
        QDesktopServices::setUrlHandler("http", &desktop, "open");
        win().helpAction()->trigger();
        for (const char* scheme : {"file", "https", "http"}) QDesktopServices::unsetUrlHandler(scheme);
        QCOMPARE(desktop.urls.size(), 1);
        const QUrl guide = desktop.urls.first();
        QVERIFY2(guide.isLocalFile(), qPrintable(guide.toString()));
        QCOMPARE(QFileInfo(guide.toLocalFile()).absolutePath(), QCoreApplication::applicationDirPath());
        QVERIFY(dunmore::test::readFileText(guide.toLocalFile().toStdString()) ==
                dunmore::test::readFileText(DUNMORE_SOURCE_DIR "/docs/user-guide.html"));
        QVERIFY(m_driver->messages.isEmpty());
    }

    // The "Select Database File" dialog checks the data, temporary and log folders in this
    // order and stays open with the first failure's message; Enter and Escape do nothing;
    // OK with three valid folders stores each with a separator at its end.
    void settingsDialogChecksFolders() {
        const fs::path base = scratch("settings_dialog");
        fs::create_directories(base / "data");
        fs::create_directories(base / "logs");
        dunmore::test::writeFileText(base / "a_file", "x");
        const QString data = q((base / "data").string());
        const QString file = q((base / "a_file").string());
        const QString missing = q((base / "missing").string());
        const QString logs = q((base / "logs").string());
        const QString badData = "Please select valid database file path to continue the recovery process.";
        const QString badTemp = "Please select valid temporary file path to continue the recovery process.";
        const QString badLog = "Please select valid Log file path to continue the recovery process.";
        struct Case {
            const char* name;
            QString data, temp, log, message;
        };
        // A temporary folder that is a file passes: it only has to exist.
        const Case cases[] = {
            {"no data folder", "", file, logs, badData},
            {"data folder missing", missing, file, logs, badData},
            {"data folder is a file", file, file, logs, badData},
            {"temporary folder missing", data, missing, logs, badTemp},
            {"no temporary folder", data, "", logs, badTemp},
            {"log folder missing", data, file, missing, badLog},
            {"log folder is a file", data, file, file, badLog},
        };
        m_driver = std::make_unique<ModalDriver>();
        dunmore::core::AppSettings settings;
        dunmore::ui::CKestrelFileSettingDlg dlg(settings);
        QCOMPARE(dlg.windowTitle(), QString("Select Database File"));
        QVERIFY(dlg.dataFolderEdit()->text().isEmpty());
        QCOMPARE(dlg.tempFolderEdit()->text(), QDir::tempPath() + "/");
        const QString desktop = dlg.logFolderEdit()->text();
        QVERIFY2(desktop.endsWith("/Desktop/") && QFileInfo(desktop).isDir(), qPrintable(desktop));
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        for (const Case& c : cases) {
            qInfo() << c.name;
            m_driver->clear();
            dlg.dataFolderEdit()->setText(c.data);
            dlg.tempFolderEdit()->setText(c.temp);
            dlg.logFolderEdit()->setText(c.log);
            QTest::mouseClick(dlg.okButton(), Qt::LeftButton);
            QCOMPARE(m_driver->messages, QStringList{c.message});
            QCOMPARE(m_driver->titles, QStringList{"Dunmore(Full) v22.08"});
            QVERIFY(dlg.isVisible());
            QVERIFY(settings.chosenFolder.empty() && settings.tempFolder.empty() && settings.logFolder.empty());
        }
        for (const auto key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
            QTest::keyClick(&dlg, key);
            QVERIFY(dlg.isVisible());
        }
        // Typed by hand without the separator: stored with one.
        m_driver->clear();
        dlg.dataFolderEdit()->setText(data);
        dlg.tempFolderEdit()->setText(file);
        dlg.logFolderEdit()->setText(logs);
        QTest::mouseClick(dlg.okButton(), Qt::LeftButton);
        QVERIFY(m_driver->messages.isEmpty());
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(q(settings.chosenFolder), data + "/");
        QCOMPARE(q(settings.tempFolder), file + "/");
        QCOMPARE(q(settings.logFolder), logs + "/");

        // Cancel stores nothing.
        dunmore::core::AppSettings untouched;
        dunmore::ui::CKestrelFileSettingDlg cancelled(untouched);
        cancelled.show();
        cancelled.dataFolderEdit()->setText(data);
        QTest::mouseClick(cancelled.cancelButton(), Qt::LeftButton);
        QVERIFY(!cancelled.isVisible());
        QCOMPARE(cancelled.result(), int(QDialog::Rejected));
        QVERIFY(untouched.chosenFolder.empty() && untouched.logFolder.empty());
    }

    // The About box: the application title as its title and in bold Arial, the three
    // links with their tooltips; Escape and Enter leave it open, OK closes it.
    void aboutBox() {
        openWindow();
        bool shown = false;
        m_driver->onDialog([&](QWidget* w) {
            auto* about = qobject_cast<dunmore::ui::CKestrelAboutDlg*>(w);
            QVERIFY(about);
            QCOMPARE(about->windowTitle(), QString("Dunmore(Full) v22.08"));
            const QLabel* name = nullptr;
            for (const QLabel* label : about->findChildren<QLabel*>())
                if (label->text() == "Dunmore(Full) v22.08") name = label;
            QVERIFY(name);
            QCOMPARE(name->font().family(), QString("Arial"));
            QCOMPARE(name->font().pixelSize(), 15);
            QCOMPARE(name->font().weight(), QFont::DemiBold);
            QStringList tips;
            QPushButton* ok = nullptr;
            for (QPushButton* b : about->findChildren<QPushButton*>()) {
                if (!b->toolTip().isEmpty()) tips << b->toolTip();
                if (b->text() == "OK") ok = b;
            }
            QCOMPARE(tips, (QStringList{"Company website", "Support email address", "Sales email address"}));
            QVERIFY(ok);
            for (const auto key : {Qt::Key_Escape, Qt::Key_Return}) {
                QTest::keyClick(about, key);
                QVERIFY(about->isVisible());
            }
            QTest::mouseClick(ok, Qt::LeftButton);
            QVERIFY(!about->isVisible());
            shown = true;
        });
        win().aboutAction()->trigger();
        QVERIFY(shown);
        QVERIFY(m_driver->messages.isEmpty());
    }

    // The splash screen of the main frame: topmost, borderless, its magenta corners cut
    // away, "v22.08" drawn in black in its middle, centred on the screen; clicks and keys
    // leave it; it is gone after 2,000 ms and a 200 ms fade.
    void splashScreen() {
        QElapsedTimer clock;
        clock.start();
        openWindow(true);
        QPointer<QSplashScreen> splash;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == "SplashScreenExClass") splash = qobject_cast<QSplashScreen*>(w);
        QVERIFY(splash);
        QVERIFY(splash->isVisible());
        const Qt::WindowFlags flags = splash->windowFlags();
        QVERIFY(flags.testFlag(Qt::WindowStaysOnTopHint) && flags.testFlag(Qt::FramelessWindowHint));
        QVERIFY(!splash->mask().contains(QPoint(0, 0)));
        QVERIFY(splash->mask().contains(splash->rect().center()));
        QCOMPARE(splash->geometry().center(), QGuiApplication::primaryScreen()->availableGeometry().center());
        // The version text: black pixels in a band through the middle that the banner leaves light.
        const QImage picture = splash->grab().toImage();
        const QRect band(splash->width() / 2 - 50, splash->height() / 2 - 12, 100, 24);
        int dark = 0;
        for (int y = band.top(); y <= band.bottom(); ++y)
            for (int x = band.left(); x <= band.right(); ++x)
                if (qGray(picture.pixel(x, y)) < 60) ++dark;
        QVERIFY2(dark > 20, qPrintable(QString("%1 dark pixels").arg(dark)));
        QTest::mouseClick(splash, Qt::LeftButton);
        QTest::keyClick(splash, Qt::Key_Escape);
        QTest::qWait(200);
        QVERIFY(splash && splash->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!splash, 6000);
        QVERIFY2(clock.elapsed() >= 2200, qPrintable(QString("gone after %1 ms").arg(clock.elapsed())));
    }

    // "ApplicationLook" in the per-user settings: 215 when absent or not one of the looks
    // 210 to 218; the window applies the stored look when it is created.
    void applicationLookIsStored() {
        QSettings profile;
        const struct {
            const char* name;
            QVariant stored;
            int look;
        } cases[] = {{"nothing stored", {}, 215}, {"a look", 216, 216}, {"not a look", 300, 215}, {"lowest", 210, 210}};
        for (const auto& c : cases) {
            qInfo() << c.name;
            if (c.stored.isValid())
                profile.setValue("ApplicationLook", c.stored);
            else
                profile.remove("ApplicationLook");
            profile.sync();
            QCOMPARE(dunmore::ui::storedApplicationLook(), c.look);
        }
        dunmore::ui::storeApplicationLook(216);
        QSettings reread;
        QCOMPARE(reread.value("ApplicationLook").toInt(), 216);
        openWindow();
        const QPalette black = QApplication::palette();
        cleanup();
        reread.remove("ApplicationLook");
        reread.sync();
        openWindow();
        const QPalette blue = QApplication::palette();
        QVERIFY(black.color(QPalette::Window) != blue.color(QPalette::Window));
        dunmore::ui::applyApplicationLook(216);
        QCOMPARE(QApplication::palette().color(QPalette::Window), black.color(QPalette::Window));
        dunmore::ui::applyApplicationLook(215);
    }

    void closeRequestAsksAndNamesTheLog() {
        const auto fx = dunmore::test::makeFixture("ui_shop", kShopSql);
        openWindow();
        openFolder(fx.dataDir);
        m_driver->clear();
        m_driver->answer(false);
        win().close();
        QVERIFY(!m_exited);
        QCOMPARE(m_driver->questions, QStringList{"Do you want to close the application?"});
        QCOMPARE(m_driver->icons.last(), QMessageBox::Question);
        m_driver->answer(true);
        win().close();
        QVERIFY(m_exited);
        QCOMPARE(m_exitCode, -1);
        const QString log = q(m_settings->logFilePath);
        QCOMPARE(m_driver->messages, QStringList{"Log file path : " + log});
        // The log is closed, and all of it is on disk.
        QVERIFY(!win().frame().logFile.isOpen());
        const std::string bytes = dunmore::test::readFileText(m_settings->logFilePath);
        QVERIFY(bytes.size() > 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE');
        QVERIFY(q(m_settings->logFilePath).startsWith(q(m_logDir.string())));
    }
};

int main(int argc, char** argv) {
    // The window's settings and desktop folder live in a throwaway home.
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName("Dunmore");
    QCoreApplication::setApplicationName("Dunmore");
    MainWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "main_window_test.moc"
