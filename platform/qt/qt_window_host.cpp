#include "platform/qt/qt_window_host.h"

#include <QAccessible>
#include <QAccessibleObject>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

#include "res/dialog_template.h"
#include "res/resource.h"

// The application icon (the same artwork as the Windows icon), as PNG bytes.
extern const unsigned char kTarvikIconPng[];
extern const std::size_t kTarvikIconPngSize;

namespace tarvik {

namespace {

QString ToQt(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// MulDiv as Windows rounds it.
int MulDiv(int value, int numerator, int denominator) {
  return (value * numerator + denominator / 2) / denominator;
}

// "File type(*.dat)|*.dat||" -> "File type(*.dat)": Qt reads the patterns from the parentheses.
// Qt reads the pattern from the label's parentheses: "File type(*.dat)".
// A label without them gets the pattern added.
QStringList NameFilters(const std::vector<FileType>& types) {
  QStringList filters;
  for (const FileType& type : types) {
    const bool patternShown = type.label.find("(" + type.pattern + ")") != std::string::npos;
    filters << ToQt(patternShown ? type.label : type.label + " (" + type.pattern + ")");
  }
  return filters;
}

// A box whose text holds commands: lines indented by two spaces. Each
// command stays on one line, in a field it can be copied from. The prose
// around it wraps.
bool HoldsCommands(const QStringList& lines) {
  return std::any_of(lines.begin(), lines.end(), [](const QString& line) { return line.startsWith(QLatin1String("  ")); });
}

// Fills `box` with the lines of a box that holds commands.
void FillBoxWithCommands(QDialog& box, const QString& caption, const QStringList& lines, MsgBoxButtons buttons) {
  box.setWindowTitle(caption);
  auto* layout = new QVBoxLayout(&box);
  for (qsizetype i = 0; i < lines.size();) {
    const bool command = lines[i].startsWith(QLatin1String("  "));
    QStringList block;
    for (; i < lines.size() && lines[i].startsWith(QLatin1String("  ")) == command; ++i) {
      block.push_back(command ? lines[i].trimmed() : lines[i]);
    }
    if (command) {
      // A label that never wraps: the box grows to its widest command.
      auto* field = new QLabel(block.join(QLatin1Char('\n')), &box);
      field->setObjectName(QStringLiteral("commands"));
      field->setTextFormat(Qt::PlainText);
      field->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
      field->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
      field->setFrameShape(QFrame::StyledPanel);
      field->setBackgroundRole(QPalette::Base);
      field->setAutoFillBackground(true);
      field->setMargin(6);
      layout->addWidget(field);
      continue;
    }
    while (!block.isEmpty() && block.back().isEmpty()) block.pop_back();
    while (!block.isEmpty() && block.front().isEmpty()) block.pop_front();
    if (block.isEmpty()) continue;
    auto* label = new QLabel(block.join(QLatin1Char('\n')), &box);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(label);
  }
  auto* answers = new QDialogButtonBox(buttons == MsgBoxButtons::kOkCancel ? QDialogButtonBox::Ok | QDialogButtonBox::Cancel
                                                                          : QDialogButtonBox::Ok,
                                       &box);
  QObject::connect(answers, &QDialogButtonBox::accepted, &box, &QDialog::accept);
  QObject::connect(answers, &QDialogButtonBox::rejected, &box, &QDialog::reject);
  layout->addWidget(answers);
  answers->button(QDialogButtonBox::Ok)->setDefault(true);
}

// The application as screen readers see it, named by the program's name.
class NamedApplication final : public QAccessibleApplication {
 public:
  QString text(QAccessible::Text t) const override {
    return t == QAccessible::Name ? QString::fromUtf8(kProgramName) : QAccessibleApplication::text(t);
  }
};

QAccessibleInterface* NamedApplicationFactory(const QString& /*className*/, QObject* object) {
  return object != nullptr && object == QCoreApplication::instance() ? new NamedApplication : nullptr;
}

}  // namespace

void NameApplicationForScreenReaders() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  QAccessible::installFactory(&NamedApplicationFactory);
}

// The dialog window of template 102.
class UpdateDialogWidget final : public QDialog {
 public:
  explicit UpdateDialogWidget(QtWindowHost& host) : m_host(host) {
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    QFont font;
    font.setFamilies({QString::fromUtf8(kUpdateDialogTemplate.fontFace), QStringLiteral("SimSun"),
                      QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Micro Hei")});
    font.setPointSize(kUpdateDialogTemplate.fontPoints);
    setFont(font);

    for (const DialogControlTemplate& t : kUpdateDialogTemplate.controls) {
      QWidget* control = nullptr;
      switch (t.kind) {
        case ControlKind::kProgress: {
          auto* bar = new QProgressBar(this);
          bar->setRange(0, 100);
          bar->setValue(0);
          bar->setTextVisible(false);
          control = bar;
          break;
        }
        case ControlKind::kPushButton: {
          auto* button = new QPushButton(QString::fromUtf8(t.text), this);
          button->setAutoDefault(false);
          QObject::connect(button, &QPushButton::clicked, this, [this, id = t.id] {
            if (m_host.m_dialog) m_host.m_dialog->OnCommand(id);
          });
          control = button;
          break;
        }
        case ControlKind::kStaticCentred:
        case ControlKind::kStaticLeft: {
          auto* label = new QLabel(QString::fromUtf8(t.text), this);
          label->setAlignment(t.kind == ControlKind::kStaticCentred ? Qt::AlignHCenter | Qt::AlignTop
                                                                     : Qt::AlignLeft | Qt::AlignTop);
          label->setWordWrap(t.kind == ControlKind::kStaticLeft);
          label->setTextFormat(Qt::PlainText);
          control = label;
          break;
        }
      }
      if (!t.tabStop) control->setFocusPolicy(Qt::NoFocus);
      int x = t.x, y = t.y, cx = t.cx, cy = t.cy;
      QtWindowHost::DialogUnitsToPixels(*this, x, y, cx, cy);
      control->setGeometry(x, y, cx, cy);
      m_controls[t.id] = control;
    }
    int x = 0, y = 0, cx = kUpdateDialogTemplate.cx, cy = kUpdateDialogTemplate.cy;
    QtWindowHost::DialogUnitsToPixels(*this, x, y, cx, cy);
    setFixedSize(cx, cy);
  }

  QWidget* Control(int id) const {
    auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
  }

  // Esc and the close box: the window decides whether it may close now.
  void reject() override {
    if (!m_host.m_dialog || m_host.m_dialog->OnCloseRequest()) QDialog::reject();
  }

 private:
  QtWindowHost& m_host;
  std::map<int, QWidget*> m_controls;
};

QtWindowHost::QtWindowHost()
    : m_tasks([this] { WakeUiThread(); },
              [this](DeviceChange change) {
                if (!m_dialog) return;
                m_dialog->OnDeviceChange(change);
                if (m_deviceChangeHook) m_deviceChangeHook(change);
              }) {}

QtWindowHost::~QtWindowHost() = default;

QDialog* QtWindowHost::Window() const { return m_widget; }

QWidget* QtWindowHost::Control(int id) const { return m_widget ? m_widget->Control(id) : nullptr; }

void QtWindowHost::DialogUnitsToPixels(const QWidget& window, int& x, int& y, int& cx, int& cy) {
  // The dialog font's base units, as the platform that defined the template computes them.
  const QFontMetrics metrics(window.font());
  const int sample = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  const int baseX = std::max(1, (sample / 26 + 1) / 2);
  const int baseY = std::max(1, metrics.height());
  x = MulDiv(x, baseX, 4);
  cx = MulDiv(cx, baseX, 4);
  y = MulDiv(y, baseY, 8);
  cy = MulDiv(cy, baseY, 8);
}

int QtWindowHost::RunModal(IDialogEvents& dialog) {
  UpdateDialogWidget widget(*this);
  widget.setWindowTitle(QString::fromUtf8(kProgramName));
  m_dialog = &dialog;
  m_widget = &widget;
  m_tasks.Open();
  // As with a dialog template, initialisation runs before the window is visible.
  dialog.OnInitDialog();
  widget.show();
  if (m_shownHook) QTimer::singleShot(0, &widget, [this, &widget] { m_shownHook(widget); });
  const int result = widget.exec();
  // The window is gone: waiting senders return, queued work is dropped.
  m_tasks.Close();
  m_widget = nullptr;
  m_timers.clear();  // owned by the widget
  m_dialog = nullptr;
  return result;
}

void QtWindowHost::EndModal(int result) {
  if (m_widget) m_widget->done(result);
}

void QtWindowHost::SetWindowText(const std::string& text) {
  if (m_widget) m_widget->setWindowTitle(ToQt(text));
}

void QtWindowHost::SetItemText(int id, const std::string& text) {
  QWidget* control = Control(id);
  if (auto* button = qobject_cast<QPushButton*>(control)) button->setText(ToQt(text));
  if (auto* label = qobject_cast<QLabel*>(control)) label->setText(ToQt(text));
}

void QtWindowHost::EnableItem(int id, bool enable) {
  if (QWidget* control = Control(id)) control->setEnabled(enable);
}

bool QtWindowHost::IsItemEnabled(int id) {
  QWidget* control = Control(id);
  return control && control->isEnabled();
}

void QtWindowHost::ShowItem(int id, bool show) {
  if (QWidget* control = Control(id)) control->setVisible(show);
}

void QtWindowHost::SetItemAccessibleName(int id, const std::string& name) {
  if (QWidget* control = Control(id)) control->setAccessibleName(ToQt(name));
}

void QtWindowHost::SetProgressRange(int id, int low, int high) {
  if (auto* bar = qobject_cast<QProgressBar*>(Control(id))) bar->setRange(low, std::max(low, high));
}

void QtWindowHost::SetProgressPos(int id, int pos) {
  // A progress bar keeps its position inside its range.
  if (auto* bar = qobject_cast<QProgressBar*>(Control(id))) {
    bar->setValue(std::clamp(pos, bar->minimum(), bar->maximum()));
  }
}

void QtWindowHost::SetIcon(int resourceId, bool /*big*/) {
  if (resourceId != IDI_MAINFRAME) return;
  if (!m_icon) {
    QPixmap pixmap;
    pixmap.loadFromData(kTarvikIconPng, static_cast<uint>(kTarvikIconPngSize), "PNG");
    m_icon = std::make_unique<QIcon>(pixmap);
  }
  // One icon serves both sizes; Qt picks the size it needs. The window
  // manager draws the minimised window.
  if (m_widget && !m_icon->isNull()) m_widget->setWindowIcon(*m_icon);
}

MsgBoxAnswer QtWindowHost::MessageBox(const std::string& text, const std::optional<std::string>& caption,
                                      MsgBoxButtons buttons) {
  if (m_messageBoxHook) {
    if (const std::optional<MsgBoxAnswer> answer = m_messageBoxHook(text, caption, buttons)) return *answer;
  }
  const QString title = ToQt(caption.value_or(kProgramName));
  if (const QStringList lines = ToQt(text).split(QLatin1Char('\n')); HoldsCommands(lines)) {
    QDialog box(m_widget);
    FillBoxWithCommands(box, title, lines, buttons);
    return RunBox(box, text) == QDialog::Accepted ? MsgBoxAnswer::kOk : MsgBoxAnswer::kCancel;
  }
  QMessageBox box(m_widget);
  box.setWindowTitle(title);
  box.setText(ToQt(text));
  box.setTextFormat(Qt::PlainText);
  box.setTextInteractionFlags(Qt::TextSelectableByMouse);  // commands in a text can be copied
  box.setStandardButtons(buttons == MsgBoxButtons::kOkCancel ? QMessageBox::Ok | QMessageBox::Cancel
                                                             : QMessageBox::Ok);
  box.setDefaultButton(QMessageBox::Ok);
  return RunBox(box, text) == QMessageBox::Ok ? MsgBoxAnswer::kOk : MsgBoxAnswer::kCancel;
}

int QtWindowHost::RunBox(QDialog& box, const std::string& text) {
  m_boxes.push_back(OpenBox{text, &box});
  const int result = box.exec();
  m_boxes.pop_back();
  return result;
}

void QtWindowHost::CloseMessageBox(const std::string& text) {
  for (auto open = m_boxes.rbegin(); open != m_boxes.rend(); ++open) {
    if (open->text != text || !open->box->isVisible()) continue;
    // The box hides now. Its exec returns once the calls above it have returned.
    open->box->reject();
    return;
  }
}

std::optional<std::string> QtWindowHost::OpenFileDialog(const FileDialogRequest& request) {
  if (m_fileDialogHook) {
    if (const auto answer = m_fileDialogHook(request)) return *answer;
  }
  QFileDialog dialog(m_widget, QString(), ToQt(request.initialDirectory));
  dialog.setNameFilters(NameFilters(request.types));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().first().toStdString();
}

void QtWindowHost::SetTimer(uintptr_t timerId, uint32_t intervalMs) {
  if (!m_widget) return;
  QTimer*& timer = m_timers[timerId];
  if (!timer) {
    timer = new QTimer(m_widget);
    QObject::connect(timer, &QTimer::timeout, m_widget, [this, timerId] {
      if (m_dialog) m_dialog->OnTimer(timerId);
    });
  }
  timer->start(static_cast<int>(intervalMs));
}

void QtWindowHost::KillTimer(uintptr_t timerId) {
  auto it = m_timers.find(timerId);
  if (it == m_timers.end()) return;
  it->second->stop();
  it->second->deleteLater();
  m_timers.erase(it);
}

bool QtWindowHost::IsUiThread() { return m_tasks.IsUiThread(); }

void QtWindowHost::WakeUiThread() {
  // Only while the task queue is open, which is while the widget exists.
  if (m_widget) QMetaObject::invokeMethod(m_widget, [this] { m_tasks.RunQueued(); }, Qt::QueuedConnection);
}

// Not a blocking queued call: the window may close while a sender waits, and
// then the wait must end rather than hold the worker for ever.
bool QtWindowHost::SendToUi(const std::function<void()>& op) { return m_tasks.Send(op); }

void QtWindowHost::PostToUi(std::function<void()> op) { m_tasks.Post(std::move(op)); }

void QtWindowHost::PostDeviceChange(DeviceChange change) { m_tasks.PostDeviceChange(change); }

}  // namespace tarvik
