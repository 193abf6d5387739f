package jarseal.jadtool;

import java.io.BufferedInputStream;
import java.io.BufferedOutputStream;
import java.io.ByteArrayOutputStream;
import java.io.DataInputStream;
import java.io.DataOutputStream;
import java.io.EOFException;
import java.io.FileDescriptor;
import java.io.FileInputStream;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.io.PrintStream;
import java.io.UnsupportedEncodingException;
import java.nio.charset.Charset;
import java.util.ArrayList;
import java.util.List;

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
 * channel cleanly; end of input inside a request, or a request beyond the limits, ends it without an answer.
 *
 * <p>{@code -serve IN OUT ...} serves more channels beside standard input and output, each on a pair of inherited
 * file descriptors (requests read from IN, answers written to OUT) and on a thread of its own, so that several
 * callers share one runtime and what it has compiled. The server ends when every channel has ended: with status 0
 * when all ended cleanly, 2 otherwise.
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
    private static final int BUFFER_BYTES = 1 << 16;

    /** The buffer a thread's request prints into; null outside a request, where printing goes to standard error. */
    private static final ThreadLocal<OutputStream> PRINTED = new ThreadLocal<>();

    private JadServer() {}

    /** Serves the channels {@code fds} names (pairs of descriptor numbers) beside standard input and output. */
    static int serve(String[] fds) {
        if (fds.length % 2 != 0) {
            System.err.println("jadtool: -serve takes pairs of file descriptors");
            return 1;
        }
        // The answers own the real standard output; anything printed goes to
        // the buffer of the request its thread is running, or else to standard
        // error.
        PrintStream idle = System.err;
        PrintStream routed = new PrintStream(new Routed(idle), true);
        System.setOut(routed);
        System.setErr(routed);
        // Every channel is opened before any is greeted: a caller whose
        // channel cannot be served sees the whole server end at once.
        List<InputStream> ins = new ArrayList<>();
        List<OutputStream> outs = new ArrayList<>();
        try {
            for (int i = 0; i < fds.length; i += 2) {
                ins.add(new FileInputStream("/dev/fd/" + descriptor(fds[i])));
                outs.add(new FileOutputStream("/dev/fd/" + descriptor(fds[i + 1])));
            }
        } catch (IOException | NumberFormatException e) {
            idle.println("jadtool: cannot open a channel: " + e.getMessage());
            return 2;
        }
        List<Thread> threads = new ArrayList<>();
        final int[] failed = {0};
        for (int i = 0; i < ins.size(); i++) {
            final InputStream in = ins.get(i);
            final OutputStream out = outs.get(i);
            Thread thread = new Thread(() -> {
                if (serve(in, out) != 0) {
                    synchronized (failed) {
                        failed[0]++;
                    }
                }
            }, "channel " + (i + 1));
            thread.start();
            threads.add(thread);
        }
        int status = serve(new FileInputStream(FileDescriptor.in), new FileOutputStream(FileDescriptor.out));
        for (Thread thread : threads) {
            boolean joined = false;
            while (!joined) {
                try {
                    thread.join();
                    joined = true;
                } catch (InterruptedException e) {
                    // keep waiting: the channel ends when its caller closes it
                }
            }
        }
        synchronized (failed) {
            return status != 0 || failed[0] != 0 ? 2 : 0;
        }
    }

    private static int descriptor(String number) {
        int fd = Integer.parseInt(number);
        if (fd < 3) {
            throw new NumberFormatException("not a descriptor of its own: " + number);
        }
        return fd;
    }

    /** Serves one channel until its input ends: 0 at a clean end, 2 for a broken request or a lost caller. */
    static int serve(InputStream requests, OutputStream answers) {
        DataInputStream in = new DataInputStream(new BufferedInputStream(requests, BUFFER_BYTES));
        DataOutputStream out = new DataOutputStream(new BufferedOutputStream(answers, BUFFER_BYTES));
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
                PRINTED.set(captured);
                try {
                    status = JadTool.execute(args, captured, captured);
                } finally {
                    PRINTED.remove();
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
        } finally {
            try {
                out.close();
            } catch (IOException e) {
                // the caller is gone
            }
        }
    }

    /** Standard output and error while serving: the running request's buffer, or else standard error. */
    private static final class Routed extends OutputStream {
        private final OutputStream idle;

        Routed(OutputStream idle) {
            this.idle = idle;
        }

        private OutputStream target() {
            OutputStream target = PRINTED.get();
            return target != null ? target : idle;
        }

        @Override
        public void write(int b) throws IOException {
            target().write(b);
        }

        @Override
        public void write(byte[] b, int off, int len) throws IOException {
            target().write(b, off, len);
        }

        @Override
        public void flush() throws IOException {
            target().flush();
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

    /** The launcher's encoding of command-line bytes (sun.jnu.encoding), or null when unknown or unsupported. */
    private static final Charset LAUNCHER_ENCODING = launcherEncoding();

    private static Charset launcherEncoding() {
        String name = System.getProperty("sun.jnu.encoding", "");
        return !name.isEmpty() && Charset.isSupported(name) ? Charset.forName(name) : null;
    }

    /** An argument as the Java launcher turns command-line bytes into a string: in sun.jnu.encoding when known. */
    static String platformString(byte[] bytes) {
        return LAUNCHER_ENCODING != null ? new String(bytes, LAUNCHER_ENCODING) : new String(bytes);
    }
}
