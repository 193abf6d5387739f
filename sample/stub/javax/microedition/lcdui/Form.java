package javax.microedition.lcdui;

public class Form extends Screen {
    public Form(String title) {}

    public int append(String str) {
        return 0;
    }
}
