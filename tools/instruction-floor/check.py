#!/usr/bin/env python3
"""Checks that a built exe holds no instruction its oldest processor lacks.

    check.py program.exe --floor i586|x86-64

Disassembles every executable section (objdump) and fails (exit 1) on any instruction
outside the floor, naming each kind with a count and its first addresses:
  i586    Pentium, Pentium MMX, K6-2, the processors of Windows 98 and NT 4: the integer
          and x87 sets of the Pentium; no CMOV, FCMOV, FCOMI/FUCOMI, long NOP, MMX, SSE or
          3DNow!; CPUID only where the EFLAGS ID-bit test comes before it.
  x86-64  the first Athlon 64 and Opteron: the base set with x87, CMOV, MMX, SSE and SSE2;
          no SSE3, SSSE3, SSE4, AVX, POPCNT, LZCNT, BMI, CMPXCHG16B, RDRAND or RDSEED.
          TZCNT is allowed: those processors run it as BSF, which gives the same result for
          any input but zero (see docs/platforms.md for where the exe uses it).
The list is of what is allowed, so an instruction nobody thought of fails too. Wine and
qemu run on today's processors and cannot show a violation; this check can.

MinGW's link puts data at the end of .text: the constructor and destructor lists (each a
-1, addresses, a 0). They are found by their shape and left out; the exception tables
that would follow them are linked into a section of their own (cmake/ExceptTable.ld).
"""
import argparse
import collections
import re
import struct
import subprocess
import sys

PREFIXES = {"lock", "rep", "repz", "repnz", "repe", "repne", "data16", "data32",
            "addr16", "addr32", "cs", "ds", "es", "ss", "fs", "gs"}

CONDITIONS = "a ae b be c e g ge l le na nae nb nbe nc ne ng nge nl nle no np ns nz o p pe po s z"
JCC = {"j" + c for c in CONDITIONS.split()} | {"jcxz", "jecxz"}
SETCC = {"set" + c for c in CONDITIONS.split()}
CMOVCC = {"cmov" + c for c in CONDITIONS.split()}

INTEGER = set("""
aaa aad aam aas adc add and arpl bound bsf bsr bswap bt btc btr bts call cbw cdq clc cld
cli cmc cmp cmps cmpxchg cmpxchg8b cwd cwde daa das dec div enter hlt idiv imul in inc ins
int int3 into iret iretd jmp lahf lds lea leave les lfs lgs lods loop loope loopne loopnz
loopz lss mov movs movsx movzx mul neg nop not or out outs pop popa popad popf popfd push
pusha pushad pushf pushfd rcl rcr rdtsc ret retf rol ror sahf sal sar sbb scas shl shld
shr shrd stc std sti stos sub test wait fwait xadd xchg xlat xor
""".split()) | JCC | SETCC
# PAUSE is REP NOP and UD2 a defined invalid opcode: every x86 runs the first as NOP and
# traps on the second, as meant.
INTEGER |= {"pause", "ud2"}

X87 = set("""
f2xm1 fabs fadd faddp fbld fbstp fchs fclex fnclex fcom fcomp fcompp fcos fdecstp fdiv
fdivp fdivr fdivrp ffree fiadd ficom ficomp fidiv fidivr fild fimul fincstp finit fninit
fist fistp fisub fisubr fld fld1 fldcw fldenv fldl2e fldl2t fldlg2 fldln2 fldpi fldz fmul
fmulp fnop fpatan fprem fprem1 fptan frndint frstor fsave fnsave fscale fsin fsincos fsqrt
fst fstcw fnstcw fstenv fnstenv fstp fstsw fnstsw fsub fsubp fsubr fsubrp ftst fucom
fucomp fucompp fxam fxch fxtract fyl2x fyl2xp1
""".split())

P6 = CMOVCC | {"fcmovb", "fcmove", "fcmovbe", "fcmovu", "fcmovnb", "fcmovne", "fcmovnbe",
               "fcmovnu", "fcomi", "fcomip", "fucomi", "fucomip"}

MMX = set("""
emms movd movq packssdw packsswb packuswb paddb paddw paddd paddsb paddsw paddusb paddusw
pand pandn pcmpeqb pcmpeqw pcmpeqd pcmpgtb pcmpgtw pcmpgtd pmaddwd pmulhw pmullw por psllw
pslld psllq psraw psrad psrlw psrld psrlq psubb psubw psubd psubsb psubsw psubusb psubusw
punpckhbw punpckhwd punpckhdq punpcklbw punpcklwd punpckldq pxor
""".split())

SSE = set("""
addps addss andnps andps cmpps cmpss comiss cvtpi2ps cvtps2pi cvtsi2ss cvtss2si cvttps2pi
cvttss2si divps divss ldmxcsr maxps maxss minps minss movaps movhlps movhps movlhps movlps
movmskps movntps movss movups mulps mulss orps rcpps rcpss rsqrtps rsqrtss shufps sqrtps
sqrtss stmxcsr subps subss ucomiss unpckhps unpcklps xorps pavgb pavgw pextrw pinsrw
pmaxsw pmaxub pminsw pminub pmovmskb pmulhuw psadbw pshufw maskmovq movntq prefetchnta
prefetcht0 prefetcht1 prefetcht2 sfence
""".split())

SSE2 = set("""
addpd addsd andnpd andpd cmppd cmpsd comisd cvtdq2pd cvtdq2ps cvtpd2dq cvtpd2pi cvtpd2ps
cvtpi2pd cvtps2dq cvtps2pd cvtsd2si cvtsd2ss cvtsi2sd cvtss2sd cvttpd2dq cvttpd2pi
cvttps2dq cvttsd2si divpd divsd maxpd maxsd minpd minsd movapd movhpd movlpd movmskpd movsd
movupd mulpd mulsd orpd shufpd sqrtpd sqrtsd subpd subsd ucomisd unpckhpd unpcklpd xorpd
movdqa movdqu movq2dq movdq2q pmuludq paddq psubq pshufd pshufhw pshuflw pslldq psrldq
punpckhqdq punpcklqdq maskmovdqu movntdq movnti movntpd clflush lfence mfence
""".split())
# objdump spells the compare predicates out: cmpltsd, cmpneqps, ...
SSE_COMPARE = re.compile(r"^cmp(eq|lt|le|unord|neq|nlt|nle|ord)(ps|ss|pd|sd)$")

AMD64 = set("movsxd cdqe cqo movabs syscall sysret swapgs iretq jrcxz tzcnt".split())

FLOORS = {
    "i586": INTEGER | X87,
    "x86-64": INTEGER | X87 | P6 | MMX | SSE | SSE2 | AMD64,
}

ID_BIT = "0x200000"  # EFLAGS.ID: a processor that can flip it has CPUID
CPUID_LOOKBACK = 32  # instructions before a CPUID in which the test must stand


def read_sections(exe):
    """(name, virtual address, size, image base, image end) of each executable section."""
    with open(exe, "rb") as f:
        data = f.read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise SystemExit(f"{exe}: not a PE image")
    count = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    if magic == 0x20B:
        base = struct.unpack_from("<Q", data, optional + 24)[0]
        word = 8
    else:
        base = struct.unpack_from("<I", data, optional + 28)[0]
        word = 4
    image_size = struct.unpack_from("<I", data, optional + 56)[0]
    sections = []
    table = optional + optional_size
    for i in range(count):
        entry = table + 40 * i
        name = data[entry:entry + 8].rstrip(b"\0").decode()
        vsize, rva, raw_size, raw_offset = struct.unpack_from("<IIII", data, entry + 8)
        flags = struct.unpack_from("<I", data, entry + 36)[0]
        if flags & 0x20000000 or flags & 0x20:  # MEM_EXECUTE or CNT_CODE
            body = data[raw_offset:raw_offset + min(vsize, raw_size)]
            sections.append((name, base + rva, body, base, base + image_size, word))
    return sections


def code_end(start, body, image_base, image_end, word):
    """Where the code ends in a section that ends with MinGW's constructor and destructor
    lists: -1, addresses in the image, 0; twice. The section's end if it does not."""
    fmt = "<q" if word == 8 else "<i"
    pointer = "<Q" if word == 8 else "<I"
    length = len(body) - len(body) % word
    while length >= word and not any(body[length - word:length]) and \
            length >= 2 * word and not any(body[length - 2 * word:length - word]):
        length -= word  # trailing padding beyond the last list's 0
    position = length
    for _ in range(2):
        position -= word
        if position < 0 or struct.unpack_from(fmt, body, position)[0] != 0:
            return None
        while True:
            position -= word
            if position < 0:
                return None
            value = struct.unpack_from(fmt, body, position)[0]
            if value == -1:
                break
            if not image_base <= struct.unpack_from(pointer, body, position)[0] < image_end:
                return None
    return start + position


def disassemble(exe, start, stop):
    out = subprocess.run(["x86_64-w64-mingw32-objdump", "-d", "-w", "-M", "intel",
                          "--no-show-raw-insn", f"--start-address={start:#x}",
                          f"--stop-address={stop:#x}", exe],
                         check=True, capture_output=True, text=True).stdout
    for line in out.splitlines():
        m = re.match(r"^\s*([0-9a-f]+):\t(.*)$", line)
        if m:
            yield int(m.group(1), 16), m.group(2).strip()


def mnemonic_of(text):
    tokens = text.split()
    while tokens and (tokens[0] in PREFIXES or tokens[0].startswith("rex")):
        tokens.pop(0)
    if not tokens:
        return None, ""  # a prefix printed alone; what it prefixes is checked on its own
    return tokens[0], " ".join(tokens[1:])


def check(exe, floor):
    allowed = FLOORS[floor]
    problems = collections.OrderedDict()
    total = 0
    sections = read_sections(exe)
    if not sections:
        return {"no executable section": [0]}, 0
    for name, start, body, image_base, image_end, word in sections:
        stop = start + len(body)
        if name == ".text":
            end = code_end(start, body, image_base, image_end, word)
            if end is None:
                problems.setdefault("(.text does not end in the constructor lists)", []).append(stop)
            else:
                stop = end
        recent = collections.deque(maxlen=CPUID_LOOKBACK)
        for address, text in disassemble(exe, start, stop):
            total += 1
            mnemonic, operands = mnemonic_of(text)
            if mnemonic is None:
                continue
            bad = None
            if mnemonic == "cpuid":
                if floor == "i586" and not (any(ID_BIT in r for r in recent) and
                                            any(r.startswith("popf") for r in recent)):
                    bad = "cpuid (no ID-bit test before it)"
            elif mnemonic == "(bad)":
                bad = "(bad): bytes that decode to no instruction"
            elif floor == "i586" and mnemonic == "nop" and operands:
                bad = "nop with an operand (long NOP, P6)"
            elif mnemonic not in allowed and not (floor == "x86-64" and SSE_COMPARE.match(mnemonic)):
                bad = mnemonic
            if floor == "i586" and bad is None and re.search(r"\b[xy]?mm\d", operands):
                bad = mnemonic + " on MMX/SSE registers"
            if bad:
                problems.setdefault(bad, []).append(address)
            recent.append(mnemonic + " " + operands)
    return problems, total


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("exe")
    parser.add_argument("--floor", choices=sorted(FLOORS), required=True)
    args = parser.parse_args()
    problems, total = check(args.exe, args.floor)
    # A disassembly that found next to nothing would pass anything.
    if total < 1000:
        problems.setdefault(f"only {total} instructions disassembled", [0])
    if problems:
        count = sum(len(a) for a in problems.values())
        print(f"{args.exe}: {count} instructions outside the {args.floor} floor:")
        for what, addresses in sorted(problems.items(), key=lambda p: -len(p[1])):
            shown = " ".join(f"{a:#x}" for a in addresses[:4])
            print(f"  {len(addresses):5} {what}  (at {shown}{' ...' if len(addresses) > 4 else ''})")
        return 1
    print(f"{args.exe}: {total} instructions, all on the {args.floor} floor")
    return 0


if __name__ == "__main__":
    sys.exit(main())
