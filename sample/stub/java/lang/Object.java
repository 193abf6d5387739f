package java.lang;

public class Object {
    public Object() {}

    public boolean equals(Object obj) {
        return this == obj;
    }

    public int hashCode() {
        return 0;
    }

    public String toString() {
        return null;
    }
}
