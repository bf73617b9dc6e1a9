// A Qt generic plugin that the end-to-end tests load into the real program
// (QT_QPA_GENERIC_PLUGINS=kxdriver). It waits for the main window, then
// reads one command per line on standard input and answers each with one
// line on standard output, so that a test drives the program as a user
// would: menus by their captions, controls by their names, the window's
// close button. Answers start with "@driver ok" or "@driver err"; an error
// box is reported as "@driver box <text>" and dismissed, so that a failed
// action never leaves the program waiting for a click.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCryptographicHash>
#include <QGenericPlugin>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPixmap>
#include <QPointer>
#include <QSocketNotifier>
#include <QTableWidget>
#include <QTimer>
#include <QWidget>

#include <unistd.h>

#include <string>

namespace {

// One whole line per write, so that it never interleaves with other output.
void Say(const QString& line) {
    const QByteArray bytes = ("@driver " + line + "\n").toUtf8();
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(STDOUT_FILENO, bytes.constData() + done, bytes.size() - done);
        if (n <= 0) return;
        done += n;
    }
}

// A caption as the user reads it: without the access-key ampersand.
QString Shown(QString caption) {
    return caption.remove('&').trimmed();
}

QString OneLine(QString text) {
    return text.replace('\n', ' ').replace('\r', ' ');
}

struct TFailure {
    QString Why;
};

class TDriver : public QObject {
  public:
    TDriver() {
        connect(&poll_, &QTimer::timeout, this, [this] { Poll(); });
        poll_.start(50);
    }

  private:
    // The program's main window: the shown top-level window with a menu bar.
    QWidget* FindWindow() const {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && w->findChild<QMenuBar*>()) return w;
        return nullptr;
    }

    void Poll() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box || !box->isVisible()) continue;
            Say("box " + OneLine(box->text()));
            box->done(QMessageBox::Ok);
        }
        if (window_) return;
        window_ = FindWindow();
        if (!window_) return;
        Say("ready " + OneLine(window_->windowTitle()));
        input_ = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
        connect(input_, &QSocketNotifier::activated, this, [this] { Read(); });
    }

    void Read() {
        char buf[4096];
        const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
        if (n <= 0) {
            // The test went away: end the run as the user would.
            input_->setEnabled(false);
            if (window_) window_->close();
            return;
        }
        pending_.append(buf, n);
        if (busy_) return; // a command in progress (an error box's loop) finishes first
        busy_ = true;
        for (qsizetype eol; (eol = pending_.indexOf('\n')) >= 0;) {
            const QString line = QString::fromUtf8(pending_.left(eol)).trimmed();
            pending_.remove(0, eol + 1);
            if (line.isEmpty()) continue;
            try {
                Say("ok " + OneLine(Run(line)));
            } catch (const TFailure& f) {
                Say("err " + OneLine(f.Why));
            }
        }
        busy_ = false;
    }

    QString Run(const QString& line) {
        if (!window_) throw TFailure{"the main window is gone"};
        const qsizetype space = line.indexOf(' ');
        const QString verb = space < 0 ? line : line.left(space);
        const QString arg = space < 0 ? QString() : line.mid(space + 1);
        if (verb == "menu") {
            QAction* action = MenuAction(arg);
            if (action->menu()) throw TFailure{"\"" + arg + "\" opens a submenu"};
            action->trigger();
            return {};
        }
        if (verb == "menu-state") {
            QAction* action = MenuAction(arg, false);
            return QString("enabled=%1 checked=%2")
                .arg(int(action->isEnabled()))
                .arg(int(action->isChecked()));
        }
        if (verb == "menu-items") {
            QStringList captions;
            for (QAction* a : Submenu(arg)->actions())
                if (!a->isSeparator()) captions << Shown(a->text());
            return captions.join('|');
        }
        if (verb == "type") {
            const qsizetype at = arg.indexOf(' ');
            return Type(Named<QWidget>(at < 0 ? arg : arg.left(at)),
                        at < 0 ? QString() : arg.mid(at + 1));
        }
        if (verb == "click") {
            auto* button = Named<QAbstractButton>(arg);
            if (!button->isVisible() || !button->isEnabled())
                throw TFailure{"\"" + arg + "\" cannot be clicked now"};
            button->click();
            return {};
        }
        if (verb == "rows") {
            // A table's rows as it shows them: "cell,cell|cell,cell".
            QStringList rows;
            for (const QStringList& cells : Rows(Named<QTableWidget>(arg)))
                rows << cells.join(',');
            return rows.join('|');
        }
        if (verb == "select") {
            // The first row with a cell of the given text, chosen as a click would.
            const qsizetype at = arg.indexOf(' ');
            auto* table = Named<QTableWidget>(arg.left(at));
            const QList<QStringList> rows = Rows(table);
            for (int r = 0; r < rows.size(); ++r)
                if (rows[r].contains(arg.mid(at + 1))) {
                    table->selectRow(r);
                    return {};
                }
            throw TFailure{"no row shows \"" + arg.mid(at + 1) + "\""};
        }
        if (verb == "enabled") return QString::number(int(Named<QWidget>(arg)->isEnabled()));
        if (verb == "text") return Text(Named<QWidget>(arg));
        if (verb == "pixels") {
            // What the control shows, as a digest: it changes when the picture does.
            const QImage image = Named<QWidget>(arg)->grab().toImage();
            return QCryptographicHash::hash(
                       QByteArray(reinterpret_cast<const char*>(image.constBits()),
                                  image.sizeInBytes()),
                       QCryptographicHash::Sha1)
                .toHex();
        }
        if (verb == "close") {
            // After the answer is out: closing may take a while.
            QTimer::singleShot(0, window_, [w = window_] {
                if (w) w->close();
            });
            return {};
        }
        throw TFailure{"unknown command \"" + verb + "\""};
    }

    template <class W> W* Named(const QString& name) const {
        W* w = window_->findChild<W*>(name);
        if (!w) throw TFailure{"no control named \"" + name + "\""};
        return w;
    }

    static QList<QStringList> Rows(QTableWidget* table) {
        QList<QStringList> rows;
        for (int r = 0; r < table->rowCount(); ++r) {
            QStringList cells;
            for (int c = 0; c < table->columnCount(); ++c)
                cells << (table->item(r, c) ? table->item(r, c)->text() : QString());
            rows << cells;
        }
        return rows;
    }

    static QString Text(QWidget* w) {
        if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
        if (auto* c = qobject_cast<QComboBox*>(w)) return c->currentText();
        if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
        if (auto* b = qobject_cast<QAbstractButton*>(w)) return Shown(b->text());
        throw TFailure{w->objectName() + " shows no text"};
    }

    // Replaces the text as typing would: select everything, type over it.
    static QString Type(QWidget* w, const QString& text) {
        QLineEdit* edit = qobject_cast<QLineEdit*>(w);
        if (auto* c = qobject_cast<QComboBox*>(w)) edit = c->lineEdit();
        if (!edit || !edit->isEnabled() || edit->isReadOnly())
            throw TFailure{w->objectName() + " takes no typing"};
        edit->setFocus(Qt::OtherFocusReason);
        edit->selectAll();
        edit->insert(text);
        return edit->text();
    }

    // The action at a path of captions ("video/connect/test pattern"), case
    // ignored; each step must be reachable, as for a user.
    QAction* MenuAction(const QString& path, bool reachable = true) const {
        QMenuBar* bar = window_->findChild<QMenuBar*>();
        QList<QAction*> level = bar->actions();
        QAction* found = nullptr;
        const QStringList steps = path.split('/');
        for (int i = 0; i < steps.size(); ++i) {
            found = nullptr;
            for (QAction* a : level)
                if (Shown(a->text()).compare(steps[i].trimmed(), Qt::CaseInsensitive) == 0)
                    found = a;
            if (!found) throw TFailure{"no menu entry \"" + steps[i] + "\" in \"" + path + "\""};
            const bool last = i + 1 == steps.size();
            if ((reachable || !last) && (!found->isVisible() || !found->isEnabled()))
                throw TFailure{"menu entry \"" + steps[i] + "\" is disabled"};
            if (!last) {
                if (!found->menu()) throw TFailure{"\"" + steps[i] + "\" has no submenu"};
                level = found->menu()->actions();
            }
        }
        return found;
    }

    QMenu* Submenu(const QString& path) const {
        QMenu* menu = MenuAction(path, false)->menu();
        if (!menu) throw TFailure{"\"" + path + "\" has no submenu"};
        return menu;
    }

    QTimer poll_;
    QPointer<QWidget> window_;
    QSocketNotifier* input_ = nullptr;
    QByteArray pending_;
    bool busy_ = false;
};

} // namespace

class TWindowDriverPlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "WindowDriver.json")
  public:
    QObject* create(const QString& key, const QString&) override {
        return key.compare("kxdriver", Qt::CaseInsensitive) == 0 ? new TDriver : nullptr;
    }
};

#include "WindowDriver.moc"
