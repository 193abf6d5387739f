package java.lang;

public class Throwable {
    public Throwable() {}

    public Throwable(String message) {}

    public String getMessage() {
        return null;
    }
}
