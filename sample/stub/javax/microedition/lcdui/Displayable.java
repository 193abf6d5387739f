package javax.microedition.lcdui;

public abstract class Displayable {
    Displayable() {}

    public void addCommand(Command cmd) {}

    public void setCommandListener(CommandListener l) {}
}
