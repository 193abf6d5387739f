package sample;

import javax.microedition.lcdui.Command;
import javax.microedition.lcdui.CommandListener;
import javax.microedition.lcdui.Display;
import javax.microedition.lcdui.Displayable;
import javax.microedition.lcdui.Form;
import javax.microedition.midlet.MIDlet;

/** The sample suite's MIDlet: one screen with a short text and an Exit command. */
public final class SampleMIDlet extends MIDlet implements CommandListener {
    private final Form form;
    private final Command exit;

    public SampleMIDlet() {
        form = new Form("Jarseal sample");
        form.append("A small suite to try Jarseal's signing on.");
        exit = new Command("Exit", Command.EXIT, 1);
        form.addCommand(exit);
        form.setCommandListener(this);
    }

    protected void startApp() {
        Display.getDisplay(this).setCurrent(form);
    }

    protected void pauseApp() {}

    protected void destroyApp(boolean unconditional) {}

    public void commandAction(Command c, Displayable d) {
        if (c == exit) {
            notifyDestroyed();
        }
    }
}
