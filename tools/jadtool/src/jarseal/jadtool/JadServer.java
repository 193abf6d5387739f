package jarseal.jadtool;

import java.io.BufferedInputStream;
import java.io.BufferedOutputStream;
import java.io.ByteArrayOutputStream;
import java.io.DataInputStream;
import java.io.DataOutputStream;
import java.io.EOFException;
import java.io.FileDescriptor;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.io.PrintStream;
import java.io.UnsupportedEncodingException;
import java.nio.charset.Charset;

/**
 * Runs the tool once per request read from standard input, in one process, so a batch pays for the start of a
 * Java runtime only once.
 *
 * <p>Framing (all numbers 32-bit big-endian, so no byte of an argument or of the output can be mistaken for a
 * separator): the server first writes the eight bytes of {@link #HELLO}. A request is the number of arguments
 * followed by each argument as its length and its bytes; the arguments are decoded the way the Java launcher
 * decodes a command line, so they become the same strings a separate run would see. The answer is the exit status
 * (the number a separate run exits with, {@link ToolException}), then the length and the bytes of everything the
 * run printed on standard output and standard error, in the order printed. End of input between requests ends the
 * server with status 0; end of input inside a request, or a request beyond the limits, ends it with status 2 without
 * an answer.
 *
 * <p>Each request is a run of its own: it gives what a separate run would give (the tool reuses only a key store
 * it has already loaded from exactly the same bytes with the same password), and its output goes into a buffer of
 * that request alone. The server opens no file of its own and writes nothing but the answers.
 */
final class JadServer {
    static final String COMMAND = "-serve";
    static final byte[] HELLO = {'j', 'a', 'd', 's', 'r', 'v', '0', '1'};

    private static final int MAX_ARGUMENTS = 4096;
    private static final int MAX_ARGUMENT_BYTES = 1 << 20;

    private JadServer() {}

    static int serve() {
        // The answers own the real standard output; anything printed outside a
        // request goes to standard error instead.
        OutputStream answers = new BufferedOutputStream(new FileOutputStream(FileDescriptor.out), 1 << 16);
        PrintStream idle = System.err;
        System.setOut(idle);
        try {
            return serve(new BufferedInputStream(System.in, 1 << 16), answers, idle);
        } finally {
            System.setOut(idle);
            System.setErr(idle);
        }
    }

    static int serve(InputStream requests, OutputStream answers, PrintStream idle) {
        DataInputStream in = new DataInputStream(requests);
        DataOutputStream out = new DataOutputStream(answers);
        Charset printed = Charset.defaultCharset();
        try {
            out.write(HELLO);
            out.flush();
            for (;;) {
                String[] args;
                try {
                    args = readRequest(in);
                } catch (EOFException e) {
                    return 0;
                }
                if (args == null) {
                    return 2;
                }
                ByteArrayOutputStream buffer = new ByteArrayOutputStream();
                PrintStream captured = new PrintStream(buffer, true, printed.name());
                int status;
                System.setOut(captured);
                System.setErr(captured);
                try {
                    status = JadTool.execute(args, captured, captured);
                } finally {
                    System.setOut(idle);
                    System.setErr(idle);
                }
                captured.flush();
                out.writeInt(status);
                out.writeInt(buffer.size());
                buffer.writeTo(out);
                out.flush();
            }
        } catch (UnsupportedEncodingException e) {
            // The runtime's own default encoding is always supported.
            throw new IllegalStateException(e);
        } catch (IOException e) {
            // The other end is gone; there is no one left to answer.
            return 2;
        }
    }

    /** The next request's arguments; null when it breaks the limits; EOFException at a clean end of input. */
    private static String[] readRequest(DataInputStream in) throws IOException {
        int count = in.readInt();
        if (count < 0 || count > MAX_ARGUMENTS) {
            return null;
        }
        String[] args = new String[count];
        try {
            for (int i = 0; i < count; i++) {
                int length = in.readInt();
                if (length < 0 || length > MAX_ARGUMENT_BYTES) {
                    return null;
                }
                byte[] bytes = new byte[length];
                in.readFully(bytes);
                args[i] = platformString(bytes);
            }
        } catch (EOFException e) {
            return null; // cut off inside a request
        }
        return args;
    }

    private static String launcherEncoding;
    private static boolean launcherEncodingSupported;

    /** An argument as the Java launcher turns command-line bytes into a string: in sun.jnu.encoding when known. */
    static String platformString(byte[] bytes) {
        if (launcherEncoding == null) {
            launcherEncoding = System.getProperty("sun.jnu.encoding", "");
            launcherEncodingSupported = !launcherEncoding.isEmpty() && Charset.isSupported(launcherEncoding);
        }
        return launcherEncodingSupported ? new String(bytes, Charset.forName(launcherEncoding)) : new String(bytes);
    }
}
