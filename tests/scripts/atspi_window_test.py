#!/usr/bin/python3
"""The demo's window as a screen reader reads it, driven by the keyboard alone.

Runs inside its own X server and session bus:
  xvfb-run -a dbus-run-session -- atspi_window_test.py DEMO SAMPLES_DIR

For each language it starts the demo on a simulated boot-mode controller and
reads the window through AT-SPI: the application's name, each control's role
and name, the title. Keys typed through the X server then press "USB Update",
choose the image, confirm and close the end box. Events from the bus show the
bar's value and the step line while the update runs. The title shows the new
version at the end.
"""
import os
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

DEMO, SAMPLES = sys.argv[1], sys.argv[2]
IMAGE = os.path.abspath(os.path.join(SAMPLES, 'boot-main-v1.31.dat'))
LIMIT_S = 60

# Per language: the locale, then the names the window shows.
LANGUAGES = [
    ('en_US.UTF-8', {
        'bar': 'Update progress', 'button': 'USB Update', 'notice': 'Firmware upgraded!',
        'help': '1. Hold down pair button', 'question': 'Fw 1.31 and current is 1.20',
        'step': 'Writing record 1...', 'signed': 'Signed by Tarvik Update demo key',
    }),
    ('zh_CN.UTF-8', {
        'bar': '更新进度', 'button': 'USB 升级', 'notice': '升级成功。',
        'help': '1. 按住配对键', 'question': '固件版本 1.31 当前版本为 1.20',
        'step': '正在写入第 1 段...', 'signed': '签名者：Tarvik Update demo key',
    }),
]
TITLE = 'Tarvik Update v2.00 (Fw v1.20 r5)'
UPDATED_TITLE = 'Tarvik Update v2.00 (Fw v1.31 r5)'

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print('FAIL: ' + what, file=sys.stderr)
    return condition


def nodes(node):
    yield node
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from nodes(child)


def application():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.get_process_id() == demo.pid:
            return app
    return None


def showing(node):
    return node.getState().contains(pyatspi.STATE_SHOWING)


def find(role, accept=lambda node: True):
    app = application()
    if app is None:
        return None
    for node in nodes(app):
        if node.getRoleName() == role and showing(node) and accept(node):
            return node
    return None


def send_keys(*words):
    subprocess.run(['xdotool', *words], check=True)


def focus_newest_window():
    """Gives the X focus to the demo's newest window, as a window manager would on mapping it.

    Xvfb runs no window manager.
    """
    found = subprocess.run(['xdotool', 'search', '--onlyvisible', '--pid', str(demo.pid), '--name', '.'],
                           capture_output=True, text=True).stdout.split()
    if found:
        subprocess.run(['xdotool', 'windowfocus', '--sync', str(max(int(w) for w in found))], check=True)


class Run:
    """One update, as steps that each wait for a state of the window."""

    def __init__(self, texts):
        self.texts = texts
        self.values = set()
        self.steps = []
        self.step = 0
        self.deadline = time.monotonic() + LIMIT_S
        self.loop = GLib.MainLoop()

    def on_event(self, event):
        try:
            if event.type.endswith('accessible-value') and event.source.getRoleName() == 'progress bar':
                self.values.add(event.source.queryValue().currentValue)
            elif event.type.endswith('accessible-name') and event.source.getRoleName() == 'label':
                self.steps.append(event.source.name)
        except Exception:  # the object may be gone when its event is read
            pass

    def tick(self):
        if demo.poll() is not None:
            check(False, 'the demo ended with status %d at step %d' % (demo.returncode, self.step))
            self.loop.quit()
            return False
        if time.monotonic() > self.deadline:
            check(False, 'step %d not reached within %d s' % (self.step, LIMIT_S))
            app = application()
            for node in nodes(app) if app is not None else []:
                if showing(node):
                    print('  showing: %s "%s"' % (node.getRoleName(), node.name), file=sys.stderr)
            self.loop.quit()
            return False
        if self.STEPS[self.step](self):
            self.step += 1
            if self.step == len(self.STEPS):
                self.loop.quit()
                return False
        return True

    def window_read(self):
        dialog = find('dialog', lambda node: node.name == TITLE)
        button = find('push button')
        if dialog is None or button is None:
            return False
        focus_newest_window()
        if not button.getState().contains(pyatspi.STATE_FOCUSED):
            return False
        check(application().name == 'Tarvik Update', 'application named "%s"' % application().name)
        named = {node.getRoleName(): node for node in nodes(dialog) if node is not dialog}
        check(named.get('progress bar') and named['progress bar'].name == self.texts['bar'], 'progress bar name')
        check(button.name == self.texts['button'], 'button named "%s"' % button.name)
        labels = [node.name for node in nodes(dialog) if node.getRoleName() == 'label' and showing(node)]
        check(len(labels) == 1 and labels[0].startswith(self.texts['help']), 'help text %r' % labels)
        send_keys('key', 'space')
        return True

    def file_chosen(self):
        field = find('text', lambda node: node.getState().contains(pyatspi.STATE_FOCUSED))
        if field is None:
            return False
        send_keys('type', '--delay', '0', IMAGE)
        send_keys('key', 'Return')
        return True

    def answered(self, text):
        """Enter on the alert that holds `text`, once it shows."""
        if find('alert', lambda node: text in texts_of(node)) is None:
            return False
        send_keys('key', 'Return')
        return True

    def question_answered(self):
        question = find('alert', lambda node: self.texts['question'] in texts_of(node))
        if question is not None:
            check(self.texts['signed'] in texts_of(question), 'the question names no signer: %r' % texts_of(question))
        return self.answered(self.texts['question'])

    def end_box_closed(self):
        if not self.answered(self.texts['notice']):
            return False
        check(any(0 < value < 100 for value in self.values), 'bar values seen: %s' % sorted(self.values))
        check(self.texts['step'] in self.steps, 'step line changes heard: %s' % self.steps[:6])
        return True

    def title_updated(self):
        return find('dialog', lambda node: node.name == UPDATED_TITLE) is not None

    STEPS = [window_read, file_chosen, question_answered, end_box_closed, title_updated]

    def go(self):
        events = ('object:property-change:accessible-value', 'object:property-change:accessible-name')
        pyatspi.Registry.registerEventListener(self.on_event, *events)
        GLib.timeout_add(20, self.tick)
        self.loop.run()
        pyatspi.Registry.deregisterEventListener(self.on_event, *events)


def texts_of(node):
    return ' '.join(child.name or '' for child in nodes(node))


launcher = subprocess.Popen(['/usr/libexec/at-spi-bus-launcher', '--launch-immediately'])
for locale, texts in LANGUAGES:
    env = dict(os.environ, LANG=locale, QT_LINUX_ACCESSIBILITY_ALWAYS_ON='1')
    for name in ('LANGUAGE', 'LC_ALL', 'LC_MESSAGES', 'QT_QPA_PLATFORM'):
        env.pop(name, None)
    demo = subprocess.Popen([DEMO, '--simulate', 'boot', '--samples', SAMPLES], env=env)
    run = Run(texts)
    run.go()
    title = subprocess.run(['xdotool', 'search', '--pid', str(demo.pid), '--name', '^Tarvik Update v', 'getwindowname'],
                           capture_output=True, text=True).stdout.strip()
    check(title == UPDATED_TITLE, '%s: the title the window manager reads is "%s"' % (locale, title))
    send_keys('key', 'Escape')
    try:
        check(demo.wait(LIMIT_S) == 0, '%s: the demo ended with status %s' % (locale, demo.returncode))
    except subprocess.TimeoutExpired:
        check(False, '%s: the window did not close on Escape' % locale)
        demo.kill()
    print('%s: %s' % (locale, 'read and updated by keyboard' if not failures else 'failed'))
    if failures:
        break
launcher.terminate()
sys.exit(1 if failures else 0)
