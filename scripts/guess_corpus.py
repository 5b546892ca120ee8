"""Writes the layout guesser's accuracy corpus and its truth.tsv.

Usage: guess_corpus.py SOURCES PHANTOM OUT
  SOURCES  folder the Debian data packages were unpacked into
  PHANTOM  the build's sample/head_phantom.raw
  OUT      corpus folder; truth.tsv is written last, so a run that stops
           halfway leaves no truth behind and is redone in full

Every file's truth comes from a header written by someone else (the shipped
NIfTI, MetaImage and NRRD files) or from how this script wrote the bytes. The
same inputs and seeds give the same corpus, byte for byte.
"""

import glob
import gzip
import os
import sys

import nibabel as nib
import numpy as np

import guess_corpus_wide

TYPES = ["byte", "int16", "int32", "float32", "uint16", "int8",
         "uint32", "int64", "uint64", "float16", "float64"]
DTYPES = dict(zip(TYPES, ["u1", "i2", "i4", "f4", "u2", "i1", "u4", "i8", "u8", "f2", "f8"]))
TYPE_OF = {np.dtype(code).kind + str(np.dtype(code).itemsize): name
           for name, code in DTYPES.items()}
MAX_HEADER = 32767
MAX_DIM = 10000


class Corpus:
    def __init__(self, out):
        self.out = out
        self.lines = []

    def Path(self, rel):
        path = os.path.join(self.out, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        return path

    def Add(self, rel, header, shape, tname, order, kind, source, group="tuned", cls="reencoded"):
        x, y, z = (list(shape) + [1, 1, 1])[:3]
        # A container may put its data anywhere; a bare header longer than this
        # is one no guess is asked to find.
        too_far = header > MAX_HEADER and cls not in ("container", "written")
        if too_far or max(x, y, z) > MAX_DIM:
            os.remove(os.path.join(self.out, rel))
            return
        if BytesOf(tname) == 1:
            order = "little"
        self.lines.append([rel, header, x, y, z, tname, order, kind, source, group, cls])

    def WriteRaw(self, rel, header_bytes, data, tname, order, kind, source, cls="reencoded"):
        with open(self.Path(rel), "wb") as f:
            f.write(header_bytes)
            f.write(Encoded(data, tname, order))
        self.Add(rel, len(header_bytes), data.shape, tname, order, kind, source, GroupOf(source),
                 cls)

    def WriteTruth(self):
        tmp = os.path.join(self.out, "truth.tsv.tmp")
        with open(tmp, "w") as f:
            f.write("# path\theader_bytes\tvoxels_per_row\trows_per_slice\tslices_per_volume"
                    "\ttype\tbyte_order\tkind\tsource\tgroup\tclass\n")
            for line in self.lines:
                f.write("\t".join(str(v) for v in line) + "\n")
        os.replace(tmp, os.path.join(self.out, "truth.tsv"))


def GroupOf(source):
    return guess_corpus_wide.GROUPS.get(source, "tuned")


def BytesOf(tname):
    return np.dtype(DTYPES[tname]).itemsize


def Encoded(data, tname, order):
    """The bytes of data (x fastest) as tname in the given byte order."""
    code = ("<" if order == "little" else ">") + DTYPES[tname]
    return np.asarray(data).astype(code).tobytes(order="F")


def Recast(values, tname):
    """values as tname, moved into the type's range only when they do not fit,
    with a note of what was done so the kind label tells the stored values."""
    v = np.asarray(values, dtype=np.float64)
    dtype = np.dtype(DTYPES[tname])
    lo, hi = float(np.nanmin(v)), float(np.nanmax(v))
    if dtype.kind == "f":
        if tname == "float16" and max(abs(lo), abs(hi)) > 60000:
            return (v / 4096).astype(dtype), "v/4096"
        return v.astype(dtype), "v"
    info = np.iinfo(dtype)
    integral = bool(np.all(v == np.round(v)))
    if integral and info.min <= lo and hi <= info.max:
        return v.astype(dtype), "v"
    if not integral and dtype.itemsize >= 4 and abs(lo) * 1000 < 2**31 and abs(hi) * 1000 < 2**31 \
            and (lo >= 0 or info.min < 0):
        return np.round(v * 1000).astype(dtype), "round(v*1000)"
    top = min(float(info.max), 30000.0) if dtype.itemsize >= 2 else float(info.max)
    bottom = max(float(info.min), -30000.0) if lo < 0 else 0.0
    if lo >= 0:
        scaled = np.round(v / max(hi, 1e-12) * top)
        return scaled.astype(dtype), f"round(v*{top:g}/{hi:g})"
    scaled = np.round((v - lo) / max(hi - lo, 1e-12) * (top - bottom) + bottom)
    return scaled.astype(dtype), f"round((v-{lo:g})*{top - bottom:g}/{hi - lo:g}{bottom:+g})"


def HeaderBytes(kind, rng, text_len, shape):
    """A preamble of one of the kinds that sit in front of raw data."""
    if kind == "hdr0":
        return b""
    if kind == "hdr512":
        return rng.integers(0, 256, 512, dtype=np.uint8).tobytes()
    if kind == "hdr4096":
        head = np.array([0x5A44, *shape[:3], 4096], dtype="<u4").tobytes()
        return head + bytes(4096 - len(head))
    if kind == "hdr777":
        return rng.integers(0, 256, 777, dtype=np.uint8).tobytes()
    # Free text of the length asked for: "key = value" lines like a scanner's
    # export, cut wherever the length runs out.
    keys = [("title", ["t1 axial", "pd scan", "atlas", "phantom run"]),
            ("operator", ["ab", "cd", "technician 3"]), ("protocol", ["mprage", "epi bold", "dwi"]),
            ("slice_thickness", ["1.0", "1.25", "3.5"]), ("echo_time", ["4.6", "12.5", "30"]),
            ("note", ["repeat after motion", "contrast given", "none"])]
    lines = [f"date = 20{rng.integers(10, 26):02d}-{rng.integers(1, 13):02d}-{rng.integers(1, 29):02d}"]
    if rng.integers(0, 2):
        lines.append("size = " + " x ".join(str(d) for d in shape))
    text = "\n".join(lines) + "\n"
    while len(text) < text_len:
        key, values = keys[rng.integers(0, len(keys))]
        text += f"{key} = {values[rng.integers(0, len(values))]}\n"
    return (text[:text_len - 1] + "\n").encode()


HEADER_KINDS = ["hdr0", "hdr512", "hdr4096", "hdr777", "text"]
TEXT_LENGTHS = [305, 1187, 433, 2790, 619, 3001, 150]


def Phantom(corpus, phantom):
    raw = np.fromfile(phantom, dtype="<i2", offset=352)
    volume = raw.reshape(2, 64, 256, 256).transpose(3, 2, 1, 0)  # x, y, z, t
    with open(phantom, "rb") as f:
        original = f.read(352)
    told = b"voxel type int16, little-endian"
    rng = np.random.default_rng(1)
    step = 0
    for tname in TYPES:
        for order in (["little"] if BytesOf(tname) == 1 else ["little", "big"]):
            data, note = Recast(volume, tname)
            hkind = "hdr352" if step % 3 == 0 else HEADER_KINDS[step % 5]
            if hkind == "hdr352":  # the phantom's own text header, telling the new type
                own = f"voxel type {tname}, {order}-endian".encode()
                header = original.replace(told, own)[:352].ljust(352, b"\0")
            else:
                header = HeaderBytes(hkind, rng, TEXT_LENGTHS[step % 7], volume.shape)
            corpus.WriteRaw(f"phantom/phantom_{tname}_{order}.raw", header, data, tname, order,
                            f"phantom {tname} {order} {hkind} {note}", "zandrel-phantom", "phantom")
            step += 1


PACKAGE_OF = {"mricron": "mricron-data", "dipy": "python3-dipy", "nipy": "python3-nipy",
              "itk": "insighttoolkit5-examples", "nibabel": "python3-nibabel"}
SOURCE_OF = {"ch2": "mricron-data", "ch2better": "mricron-data", "inia19": "mricron-data",
             "inia19t1": "mricron-data", "inia19maps": "mricron-data",
             "harvardoxford": "mricron-data", "aniso": "python3-dipy", "ascm": "python3-dipy",
             "piesno": "python3-dipy", "s0": "python3-dipy", "small64d": "python3-dipy",
             "kmeans": "insighttoolkit5-examples", "example4d": "python3-nibabel",
             "functional": "python3-nibabel", "anatomical": "python3-nibabel",
             "blobs": "python3-nipy", "membership": "insighttoolkit5-examples",
             "itkslice": "insighttoolkit5-examples"}


def Stored(img):
    """The values as stored in the file, before any scaling the header asks for."""
    dataobj = img.dataobj
    return np.asanyarray(dataobj.get_unscaled() if hasattr(dataobj, "get_unscaled") else dataobj)


def NiftiAsShipped(corpus, path, package):
    """An uncompressed copy of a shipped NIfTI file, its own header the truth."""
    img = nib.load(path)
    if not isinstance(img, (nib.Nifti1Image, nib.Nifti2Image)) or img.ndim > 4:
        return
    tname = TYPE_OF.get(img.get_data_dtype().kind + str(img.get_data_dtype().itemsize))
    if tname is None:
        return
    name = os.path.basename(path).replace(".gz", "")
    rel = f"shipped/{package}_{name}"
    with open(path, "rb") as f:
        content = f.read()
    with open(corpus.Path(rel), "wb") as f:
        f.write(gzip.decompress(content) if path.endswith(".gz") else content)
    order = "big" if img.get_data_dtype().byteorder == ">" else "little"
    version = "nifti2" if isinstance(img, nib.Nifti2Image) else "nifti1"
    corpus.Add(rel, int(img.dataobj.offset), img.shape, tname, order,
               f"{package} {name} {version} {tname}", PACKAGE_OF[package], cls="container")


def MetaFields(text):
    fields = {}
    for line in text.splitlines():
        key, sep, value = line.partition("=" if "=" in line else ":")
        if sep:
            fields[key.strip().lower()] = value.strip()
    return fields


META_TYPES = {"MET_UCHAR": "byte", "MET_CHAR": "int8", "MET_SHORT": "int16",
              "MET_USHORT": "uint16", "MET_INT": "int32", "MET_UINT": "uint32",
              "MET_FLOAT": "float32", "MET_DOUBLE": "float64",
              "unsigned char": "byte", "uchar": "byte", "short": "int16", "float": "float32"}


def MetaAsShipped(corpus, path):
    """ITK's MetaImage and NRRD examples: an attached .mha is guessed as it is;
    a detached header goes with its data file into a folder of their own, and
    the data file is the one to guess."""
    with open(path, "rb") as f:
        content = f.read()
    text = content.split(b"\n\n")[0] if path.endswith(".nhdr") else content
    fields = MetaFields(text.decode("latin-1"))
    if fields.get("compresseddata", "false").lower() == "true" or \
            fields.get("encoding", "raw") != "raw" or fields.get("elementnumberofchannels", "1") != "1":
        return
    shape = [int(d) for d in (fields.get("dimsize") or fields.get("sizes")).split()]
    tname = META_TYPES.get(fields.get("elementtype") or fields.get("type"))
    order = "big" if fields.get("binarydatabyteordermsb", "False").lower() == "true" or \
        fields.get("endian") == "big" else "little"
    data_name = fields.get("elementdatafile") or fields.get("data file")
    size = int(np.prod(shape)) * BytesOf(tname)
    name = os.path.basename(path)
    stem, ext = os.path.splitext(name)
    if data_name == "LOCAL":
        rel = f"shipped/itk_{name}"
        with open(corpus.Path(rel), "wb") as f:
            f.write(content)
        corpus.Add(rel, len(content) - size, shape, tname, order, f"itk {name} metaimage attached",
                   "insighttoolkit5-examples", cls="container")
        return
    data_path = os.path.join(os.path.dirname(path), data_name)
    if not os.path.exists(data_path) or os.path.getsize(data_path) != size:
        return
    folder = f"shipped/itk_{stem}{ext.replace('.', '_')}"
    with open(corpus.Path(f"{folder}/{name}"), "wb") as f:
        f.write(content)
    with open(data_path, "rb") as src, open(corpus.Path(f"{folder}/{data_name}"), "wb") as f:
        f.write(src.read())
    label = "nrrd detached" if ext == ".nhdr" else "metaimage detached"
    corpus.Add(f"{folder}/{data_name}", 0, shape, tname, order, f"itk {stem} {label}",
               "insighttoolkit5-examples", cls="container")


def Cropped(v):
    x, y, z = v.shape[:3]
    cx, cy, cz = max(1, x * 4 // 5 | 1), max(1, y * 6 // 7 | 1), max(1, z * 2 // 3)
    ox, oy, oz = (x - cx) // 2, (y - cy) // 3, (z - cz) // 2
    return v[ox:ox + cx, oy:oy + cy, oz:oz + cz]


SHAPES = {
    "full": lambda v: v,
    "crop": Cropped,
    "slice": lambda v: v[:, :, v.shape[2] // 2: v.shape[2] // 2 + 1, ...],
    "half": lambda v: v[::2, ::2, ::2, ...],
    "coronal": lambda v: np.swapaxes(v, 1, 2),
    "thirds": lambda v: v[::3, ::2, :, ...],
}


def Reencoded(corpus, sources, seed=7):
    """Each real volume in other shapes, types, byte orders and behind other
    headers; the sweep walks the types and headers so that every pair shows up."""
    rng = np.random.default_rng(seed)
    step = 0
    uses = dict.fromkeys(TYPES, 0)
    for label, values, shapes, source in sources:
        rounds = 1 if values.size > 4_000_000 else 2
        for shape_name in shapes * rounds:
            data = np.ascontiguousarray(SHAPES[shape_name](values))
            tname = TYPES[(step * 4 + step // 11) % 11]
            order = "big" if uses[tname] % 2 and BytesOf(tname) > 1 else "little"
            uses[tname] += 1
            hkind = HEADER_KINDS[step % 5]
            cast, note = Recast(data, tname)
            header = HeaderBytes(hkind, rng, TEXT_LENGTHS[step % 7], data.shape)
            step += 1
            if np.ptp(cast) == 0:  # a crop of a black frame: no layout to find in it
                continue
            rel = f"reencoded/{label}_{shape_name}_{tname}_{order}_{hkind}.raw"
            corpus.WriteRaw(rel, header, cast, tname, order,
                            f"{label} {shape_name} {tname} {order} {hkind} {note}", source)


def NibSaved(corpus, rel, cls, values, tname, order, kind, source):
    """values saved by nibabel in the byte order asked for; the truth is read
    back from the header it wrote."""
    header = cls.header_class().as_byteswapped("<" if order == "little" else ">")
    header.set_data_dtype(DTYPES[tname])
    nib.save(cls(Recast(values, tname)[0], np.eye(4), header=header), corpus.Path(rel))
    written = nib.load(corpus.Path(rel))
    order = "big" if written.header.endianness == ">" else "little"
    corpus.Add(rel, int(written.dataobj.offset), values.shape, tname, order, kind, source,
               cls="written")


def SelfDescribing(corpus, sources):
    """Real volumes written in the formats that carry their own layout."""
    ch2, inia, example4d, slice2d = sources
    for order, tname, label, values in [("big", "int16", "inia19", inia),
                                        ("little", "float32", "example4d", example4d)]:
        for cls, kind in [(nib.AnalyzeImage, "analyze"), (nib.Nifti1Pair, "nifti1pair")]:
            NibSaved(corpus, f"formats/{label}_{kind}_{order}.img", cls, values, tname, order,
                     f"{label} {kind} {tname} {order} .hdr beside .img", SOURCE_OF[label])
    for cls, name in [(nib.Nifti1Image, "nifti1"), (nib.Nifti2Image, "nifti2")]:
        for order in ("big", "little"):
            NibSaved(corpus, f"formats/ch2_{name}_{order}.nii", cls, ch2, "int16", order,
                     f"ch2 {name} int16 {order}", "mricron-data")
    for tname, order in [("float32", "big"), ("uint16", "little")]:
        cast = Recast(inia, tname)[0]
        nrrd_type = {"float32": "float", "uint16": "ushort"}[tname]
        text = (f"NRRD0004\n# written for the corpus\ntype: {nrrd_type}\ndimension: 3\n"
                f"sizes: {' '.join(map(str, inia.shape))}\nendian: {order}\nencoding: raw\n\n").encode()
        corpus.WriteRaw(f"formats/inia19_{tname}_{order}.nrrd", text, cast, tname, order,
                        f"inia19 nrrd attached {tname}", "mricron-data", "written")
        met = {"float32": "MET_FLOAT", "uint16": "MET_USHORT"}[tname]
        text = (f"ObjectType = Image\nNDims = 3\nDimSize = {' '.join(map(str, inia.shape))}\n"
                f"ElementType = {met}\nBinaryDataByteOrderMSB = {order == 'big'}\n"
                "ElementDataFile = LOCAL\n").encode()
        corpus.WriteRaw(f"formats/inia19_{tname}_{order}.mha", text, cast, tname, order,
                        f"inia19 metaimage attached {tname}", "mricron-data", "written")
    for label, values in [("ch2", ch2[:, :, 90:91]), ("itkslice", slice2d)]:
        for tname, maxval in [("byte", 255), ("uint16", 65535)]:
            cast, note = Recast(values, tname)
            plane = cast[:, :, 0]
            text = f"P5\n# corpus\n{plane.shape[0]} {plane.shape[1]}\n{maxval}\n".encode()
            corpus.WriteRaw(f"formats/{label}_{tname}.pgm", text, cast, tname, "big",
                            f"{label} pgm {tname} {note}", SOURCE_OF[label], "written")


def main():
    sources, phantom, out = sys.argv[1:4]
    corpus = Corpus(out)
    Phantom(corpus, phantom)

    nifti = {"mricron": f"{sources}/usr/share/mricron/templates/*.nii.gz",
             "dipy": f"{sources}/usr/lib/python3/dist-packages/dipy/data/files/*.nii*",
             "nipy": f"{sources}/usr/lib/python3/dist-packages/nipy/**/*.nii*",
             "itk": f"{sources}/usr/share/doc/insighttoolkit5-examples/examples/Data/*.nii.gz",
             "nibabel": "/usr/lib/python3/dist-packages/nibabel/tests/data/*.nii*"}
    for package, pattern in nifti.items():
        for path in sorted(glob.glob(pattern, recursive=True)):
            NiftiAsShipped(corpus, path, package)
    itk = f"{sources}/usr/share/doc/insighttoolkit5-examples/examples/Data"
    for path in sorted(glob.glob(f"{itk}/*.mh[ad]") + glob.glob(f"{itk}/*.nhdr")):
        MetaAsShipped(corpus, path)

    def Load(path):
        return Stored(nib.load(path))

    templates = f"{sources}/usr/share/mricron/templates"
    dipy = f"{sources}/usr/lib/python3/dist-packages/dipy/data/files"
    nibdata = "/usr/lib/python3/dist-packages/nibabel/tests/data"
    ch2 = Load(f"{templates}/ch2.nii.gz")
    inia = Load(f"{templates}/inia19-t1-brain.nii.gz")
    example4d = Load(f"{nibdata}/example4d.nii.gz")
    membership = np.fromfile(f"{itk}/BayesianClassifierInitializerMemberships.raw", "<f4")
    slice2d = np.fromfile(f"{itk}/BrainProtonDensitySliceBorder20.raw", "u1")
    slice2d = slice2d.reshape(257, 221).T[:, :, None]
    real = [
        ("ch2", ch2, ["full", "crop", "slice", "half", "coronal", "thirds"]),
        ("ch2better", Load(f"{templates}/ch2better.nii.gz"), ["half", "slice", "thirds"]),
        ("inia19t1", inia, ["full", "crop", "slice", "half", "coronal", "thirds"]),
        ("inia19maps", Load(f"{templates}/inia19-NeuroMaps.nii.gz"), ["crop", "half", "slice"]),
        ("harvardoxford", Load(f"{templates}/HarvardOxford-cort-maxprob-thr0-1mm.nii.gz"),
         ["half", "crop"]),
        ("aniso", Load(f"{dipy}/aniso_vox.nii.gz"), ["full", "crop", "coronal", "slice"]),
        ("ascm", Load(f"{dipy}/ascm_out_test.nii.gz"), ["full", "crop", "slice", "coronal"]),
        ("piesno", Load(f"{dipy}/test_piesno.nii.gz"), ["full", "crop", "slice", "coronal"]),
        ("s0", Load(f"{dipy}/S0_10slices.nii.gz"), ["full", "crop", "slice", "coronal"]),
        ("small64d", Load(f"{dipy}/small_64D.nii"), ["full", "coronal"]),
        ("kmeans", Load(f"{itk}/KmeansTest_T1UCharRaw.nii.gz"), ["full", "crop", "slice", "half"]),
        ("example4d", example4d, ["full", "crop", "slice", "coronal", "half", "thirds"]),
        ("functional", Load(f"{nibdata}/functional.nii"), ["full", "crop", "coronal"]),
        ("anatomical", Load(f"{nibdata}/anatomical.nii"), ["full", "crop", "slice", "coronal"]),
        ("blobs", Load(glob.glob(f"{sources}/**/some_blobs.nii", recursive=True)[0]),
         ["full", "crop", "coronal"]),
        ("membership", membership.reshape(217, 181, 4)[:, :, 0].T[:, :, None], ["full", "crop"]),
        ("itkslice", slice2d, ["full", "crop", "thirds"]),
    ]
    Reencoded(corpus, [(*entry, SOURCE_OF[entry[0]]) for entry in real])
    SelfDescribing(corpus, [ch2, inia, example4d, slice2d])
    guess_corpus_wide.Main(corpus, sources)

    # Files with no layout to find, timed only: the guess must stay quick on them.
    with open(corpus.Path("timeonly/sparse_100g.raw"), "wb") as f:
        f.truncate(100 << 30)
    noise = np.random.default_rng(11).integers(0, 256, 4 << 20, dtype=np.uint8).tobytes()
    for name, content in [("empty.raw", b""), ("tiny.raw", noise[:16]), ("noise.raw", noise)]:
        with open(corpus.Path(f"timeonly/{name}"), "wb") as f:
            f.write(content)
    for name, kind in [("sparse_100g.raw", "sparse 100 GiB"), ("empty.raw", "empty"),
                       ("tiny.raw", "16 random bytes"), ("noise.raw", "4 MiB random bytes")]:
        corpus.lines.append([f"timeonly/{name}"] + ["-"] * 6 +
                            [f"{kind} time-only", "zandrel-timeonly", "tuned", "timeonly"])
    corpus.WriteTruth()
    print(f"guess-corpus: {len(corpus.lines)} files in {out}")


if __name__ == "__main__":
    main()
