package jarseal.jadtool;

import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.channels.FileChannel;
import java.nio.CharBuffer;
import java.nio.charset.CharacterCodingException;
import java.nio.charset.Charset;
import java.nio.charset.CodingErrorAction;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.StandardOpenOption;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.ThreadLocalRandom;

/**
 * The attributes of an application descriptor, in file order.
 *
 * <p>Reading accepts CR LF, LF and CR line ends, skips blank lines and a leading byte-order mark, and joins a line
 * that starts with one blank to the value before it (the rest of the line, after that blank, is appended as it is,
 * as in a jar manifest). Writing gives one {@code name: value} line per attribute, each ended by CR LF, in the
 * encoding the descriptor was read in and without a byte-order mark.
 *
 * <p>A descriptor asked for as UTF-8 that is not valid UTF-8 holds text in some 8-bit encoding (suites often carry
 * KOI8-R or windows-1251 attributes copied unchanged from their manifest). Its encoding cannot be told from its
 * bytes, so it is read one character per byte and written back the same way: the attributes the tool does not
 * change keep their bytes exactly, and those it adds are ASCII.
 */
final class Descriptor {
    static final class Attribute {
        final String name;
        String value;

        Attribute(String name, String value) {
            this.name = name;
            this.value = value;
        }
    }

    private final List<Attribute> attributes = new ArrayList<>();
    private Charset charset;

    List<Attribute> attributes() {
        return attributes;
    }

    static Descriptor read(Path file, Charset charset) throws ToolException {
        byte[] bytes;
        try {
            bytes = Files.readAllBytes(file);
        } catch (IOException e) {
            throw new ToolException("cannot read the descriptor " + file + ": " + JadTool.describe(e));
        }
        Descriptor d = new Descriptor();
        String text = d.decode(bytes, charset, file);
        boolean byteForByte = !d.charset.equals(charset);
        // The byte-order mark as decoded, or as its three UTF-8 bytes when read byte for byte.
        String bom = byteForByte ? "\u00EF\u00BB\u00BF" : "\uFEFF";
        if (text.startsWith(bom)) {
            text = text.substring(bom.length());
        }
        List<String> lines = lines(text);
        Attribute last = null;
        for (int i = 0; i < lines.size(); i++) {
            last = d.readLine(lines.get(i), last, byteForByte, i + 1, file);
        }
        // Trailing blanks count only at the end of the whole value: a folded
        // value may break right after a blank that belongs to it.
        for (Attribute a : d.attributes) {
            a.value = stripTrailing(a.value);
        }
        return d;
    }

    /** The text of the bytes in the charset, or byte for byte when UTF-8 was asked for and they are not UTF-8. */
    private String decode(byte[] bytes, Charset asked, Path file) throws ToolException {
        charset = asked;
        try {
            return asked.newDecoder()
                .onMalformedInput(CodingErrorAction.REPORT)
                .onUnmappableCharacter(CodingErrorAction.REPORT)
                .decode(ByteBuffer.wrap(bytes))
                .toString();
        } catch (CharacterCodingException e) {
            if (!asked.equals(StandardCharsets.UTF_8)) {
                throw new ToolException("the descriptor " + file + " is not valid " + asked.name() + " text");
            }
            charset = StandardCharsets.ISO_8859_1;
            return new String(bytes, charset);
        }
    }

    /**
     * Reads line lineNo into the attributes: a new attribute, more of the last one's value, or nothing for a blank
     * line. Returns the attribute a next line may continue, or null.
     */
    private Attribute readLine(String line, Attribute last, boolean byteForByte, int lineNo, Path file)
        throws ToolException {
        if (isBlank(line)) {
            return null;
        }
        if (line.charAt(0) == ' ') {
            if (last == null) {
                throw new ToolException("line " + lineNo + " of " + file + " continues no attribute");
            }
            last.value = last.value + line.substring(1);
            return last;
        }
        int colon = line.indexOf(':');
        if (colon <= 0) {
            throw new ToolException("line " + lineNo + " of " + file + " is not \"name: value\"");
        }
        String name = line.substring(0, colon);
        for (int k = 0; k < name.length(); k++) {
            char c = name.charAt(k);
            // Read byte for byte, a byte from 0x80 up is part of a letter in an unknown encoding, never a
            // blank or a control.
            boolean checked = !byteForByte || c < 0x80;
            if (checked && (Character.isWhitespace(c) || Character.isISOControl(c))) {
                throw new ToolException("line " + lineNo + " of " + file + " has a malformed attribute name");
            }
        }
        Attribute attribute = new Attribute(name, stripLeading(line.substring(colon + 1)));
        attributes.add(attribute);
        return attribute;
    }

    /** The lines of a text, split at CR LF, CR and LF; the text after the last line end is a line too. */
    private static List<String> lines(String text) {
        List<String> lines = new ArrayList<>();
        int start = 0;
        for (int i = 0; i < text.length(); i++) {
            char c = text.charAt(i);
            if (c == '\r' || c == '\n') {
                lines.add(text.substring(start, i));
                if (c == '\r' && i + 1 < text.length() && text.charAt(i + 1) == '\n') {
                    i++;
                }
                start = i + 1;
            }
        }
        lines.add(text.substring(start));
        return lines;
    }

    // Blanks are what Character.isWhitespace calls so, as for the String
    // methods of these names in later Java releases.
    private static boolean isBlank(String s) {
        return firstNonBlank(s) == s.length();
    }

    private static String stripLeading(String s) {
        return s.substring(firstNonBlank(s));
    }

    private static String stripTrailing(String s) {
        int end = s.length();
        while (end > 0 && Character.isWhitespace(s.charAt(end - 1))) {
            end--;
        }
        return s.substring(0, end);
    }

    private static int firstNonBlank(String s) {
        int i = 0;
        while (i < s.length() && Character.isWhitespace(s.charAt(i))) {
            i++;
        }
        return i;
    }

    /** The value of the first attribute of that name, or null. */
    String get(String name) {
        for (Attribute a : attributes) {
            if (a.name.equals(name)) {
                return a.value;
            }
        }
        return null;
    }

    /** Replaces the first attribute of that name in place (dropping later duplicates) or appends it. */
    void set(String name, String value) {
        int first = -1;
        for (int i = 0; i < attributes.size(); i++) {
            if (attributes.get(i).name.equals(name)) {
                if (first < 0) {
                    first = i;
                    attributes.get(i).value = value;
                } else {
                    attributes.remove(i--);
                }
            }
        }
        if (first < 0) {
            attributes.add(new Attribute(name, value));
        }
    }

    /**
     * Removes every attribute whose name starts with the prefix and puts the new ones where the first removed one
     * was, or at the end when there was none.
     */
    void replaceGroup(String prefix, List<Attribute> replacement) {
        int at = -1;
        for (int i = 0; i < attributes.size(); i++) {
            if (attributes.get(i).name.startsWith(prefix)) {
                if (at < 0) {
                    at = i;
                }
                attributes.remove(i--);
            }
        }
        attributes.addAll(at < 0 ? attributes.size() : at, replacement);
    }

    /**
     * Writes the descriptor to a new file beside the target and renames it over the target, so a failure leaves
     * the target as it was.
     */
    void write(Path target) throws ToolException {
        StringBuilder sb = new StringBuilder();
        for (Attribute a : attributes) {
            sb.append(a.name).append(": ").append(a.value).append("\r\n");
        }
        byte[] bytes;
        try {
            ByteBuffer encoded = charset.newEncoder()
                                         .onMalformedInput(CodingErrorAction.REPORT)
                                         .onUnmappableCharacter(CodingErrorAction.REPORT)
                                         .encode(CharBuffer.wrap(sb));
            bytes = new byte[encoded.remaining()];
            encoded.get(bytes);
        } catch (CharacterCodingException e) {
            throw new ToolException("the descriptor cannot be written in " + charset.name());
        }
        Path absolute = target.toAbsolutePath();
        Path folder = absolute.getParent();
        // Named as Jarseal names its own files beside a package (".NAME.jarseal-XXXXXX"), so that
        // what a killed run leaves is removed by the next one. A file that replaces another is
        // flushed before the move, and its folder after it, so that a card pulled meanwhile holds
        // the old descriptor or the new one, never an empty one. A new file replaces nothing that
        // could be lost (Jarseal's scratch temp.jad is one, written for every suite), so it is
        // spared both flushes.
        boolean replacing = Files.exists(absolute, LinkOption.NOFOLLOW_LINKS);
        String letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
        StringBuilder mark = new StringBuilder();
        for (int i = 0; i < 6; i++) {
            mark.append(letters.charAt(ThreadLocalRandom.current().nextInt(letters.length())));
        }
        Path temp = folder.resolve("." + absolute.getFileName() + ".jarseal-" + mark);
        try {
            try (FileChannel out = FileChannel.open(temp, StandardOpenOption.CREATE_NEW, StandardOpenOption.WRITE)) {
                ByteBuffer buffer = ByteBuffer.wrap(bytes);
                while (buffer.hasRemaining()) {
                    out.write(buffer);
                }
                if (replacing) {
                    out.force(true);
                }
            }
            try {
                Files.move(temp, absolute, StandardCopyOption.REPLACE_EXISTING, StandardCopyOption.ATOMIC_MOVE);
            } catch (java.nio.file.AtomicMoveNotSupportedException e) {
                Files.move(temp, absolute, StandardCopyOption.REPLACE_EXISTING);
            }
            if (replacing) {
                try (FileChannel dir = FileChannel.open(folder, StandardOpenOption.READ)) {
                    dir.force(true);
                } catch (IOException e) {
                    // a folder that cannot be flushed (not every system allows it) keeps the move as it is
                }
            }
        } catch (IOException e) {
            try {
                Files.deleteIfExists(temp);
            } catch (IOException ignored) {
                // nothing more can be done; the target is untouched either way
            }
            throw new ToolException("cannot write " + target + ": " + JadTool.describe(e));
        }
    }
}
