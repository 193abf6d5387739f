package java.lang;

public final class String {
    public String() {}

    public int length() {
        return 0;
    }
}
