"""Real images from fields other than MRI, for guess_corpus.py: astronomy,
electron and light microscopy, photography and simulation output, as shipped
in their containers and rewritten behind the headers and containers people
really hold.

Every truth comes from the container read by its own library or by its
published definition (FITS cards, tifffile's strip offsets, h5py's dataset
offset, NumPy's header, the PGM header, pydicom's and mrcfile's readings of
what they wrote), or from how this script wrote the bytes. Nothing here asks
the guesser.
"""

import bz2
import glob
import gzip
import io
import os
import pickle
import zipfile

import numpy as np

import guess_corpus as gc

# Whole sources are held out, never single files: files of one package share a
# camera, a writer and a habit of sizes, so a file held out beside its siblings
# would still be tuned on. Each field has a source on each side where Debian
# ships two: astronomy (sunpy | reproject, ccdproc's raw CCD frames),
# photography (scipy, jbigkit | cimg, pywt's aerial picture), the Earth seen
# from space (xplanet's maps) and gamma-ray counts (photutils), held out from
# the day they joined; the microscopes of hyperspy are tuned on, and the
# held-out side gets no microscope, which its figures must be read with. Never move a source from heldout to tune after looking at its results:
# that spends the honest measure.
GROUPS = {
    "python3-sunpy": "tune",
    "python3-hyperspy": "tune",
    "python3-scipy": "tune",
    "jbigkit-testdata": "tune",
    "python3-reproject": "heldout",
    "python3-ccdproc": "heldout",
    "cimg-examples": "heldout",
    "python3-pywt": "heldout",
    "xplanet-images": "heldout",
    "python3-photutils": "heldout",
}

FITS_TYPES = {8: "byte", 16: "int16", 32: "int32", 64: "int64", -32: "float32", -64: "float64"}


def Add(corpus, rel, header, dims, tname, order, kind, source, cls):
    corpus.Add(rel, header, dims, tname, order, kind, source, GROUPS[source], cls)


def Write(corpus, rel, content):
    with open(corpus.Path(rel), "wb") as f:
        f.write(content)


def FitsHdus(content):
    """(data offset, NAXISn fastest first, BITPIX, XTENSION, cards) of each HDU,
    walked by the FITS definition: 80-byte cards in 2880-byte blocks."""
    pos, hdus = 0, []
    while pos + 2880 <= len(content):
        cards, ended = {}, False
        while not ended and pos + 2880 <= len(content):
            block = content[pos:pos + 2880].decode("ascii", "replace")
            pos += 2880
            for i in range(36):
                card = block[i * 80:(i + 1) * 80]
                if card[:8].strip() == "END":
                    ended = True
                    break
                if card[8:10] == "= ":
                    cards[card[:8].strip()] = card[10:].split("/")[0].strip().strip("'").strip()
        if not ended or "BITPIX" not in cards:
            break
        bitpix, naxis = int(cards["BITPIX"]), int(cards.get("NAXIS", 0))
        dims = [int(cards[f"NAXIS{i}"]) for i in range(1, naxis + 1)]
        size = abs(bitpix) // 8 * int(cards.get("GCOUNT", 1)) * \
            (int(cards.get("PCOUNT", 0)) + (int(np.prod(dims)) if dims else 0))
        hdus.append((pos, dims, bitpix, cards.get("XTENSION", "IMAGE"), cards))
        pos += -(-size // 2880) * 2880
    return hdus


def FitsImage(content):
    """The first image HDU with a plane of data: offset, dims, type, values."""
    for pos, dims, bitpix, xtension, cards in FitsHdus(content):
        dims = [d for d in dims if d > 1] if len(dims) > 2 else dims
        if xtension == "IMAGE" and len(dims) >= 2 and bitpix in FITS_TYPES and min(dims) > 0:
            tname = FITS_TYPES[bitpix]
            count = int(np.prod(dims))
            values = np.frombuffer(content, ">" + gc.DTYPES[tname], count, pos)
            # The physical values go on to be re-encoded: a CCD's int16 with
            # BZERO 32768 is really unsigned counts.
            scale, zero = float(cards.get("BSCALE", 1)), float(cards.get("BZERO", 0))
            return pos, dims, tname, values.reshape(dims[::-1]).T * scale + zero
    return None


def Unzipped(path):
    with open(path, "rb") as f:
        content = f.read()
    return gzip.decompress(content) if path.endswith(".gz") else content


def FitsShipped(corpus, paths, source, images):
    seen = set()
    for path in paths:
        content = Unzipped(path)
        found = FitsImage(content)
        if found is None or content in seen:
            continue
        seen.add(content)
        pos, dims, tname, values = found
        name = os.path.basename(path).replace(".gz", "")
        rel = f"shipped/{source}_{name}"
        Write(corpus, rel, content)
        Add(corpus, rel, pos, dims, tname, "big", f"{source} {name} fits {tname}", source,
            "container")
        if values.ndim == 2 and min(values.shape) >= 16:
            images.append((os.path.splitext(name)[0], values[:, :, None]))


def NumpyArray(content):
    """Offset, dims fastest first, dtype of a .npy, read by NumPy's own header reader."""
    f = io.BytesIO(content)
    version = np.lib.format.read_magic(f)
    shape, fortran, dtype = np.lib.format._read_array_header(f, version)
    return f.tell(), (list(shape) if fortran else list(shape)[::-1]), dtype


def TypeOf(dtype):
    if dtype.kind not in "uif" or dtype.fields:
        return None, None
    order = "big" if dtype.byteorder == ">" else "little"
    return gc.TYPE_OF.get(dtype.kind + str(dtype.itemsize)), order


def NumpyShipped(corpus, path, source):
    with open(path, "rb") as f:
        content = f.read()
    offset, dims, dtype = NumpyArray(content)
    tname, order = TypeOf(dtype)
    if tname is None or len(dims) < 2:
        return
    rel = f"shipped/{source}_{os.path.basename(path)}"
    Write(corpus, rel, content)
    Add(corpus, rel, offset, dims, tname, order, f"{source} npy {tname}", source, "container")


def Hdf5Largest(path):
    """The largest contiguous numeric dataset of two or more dimensions, with
    the offset HDF5 itself reports."""
    import h5py
    best = []

    def Visit(name, item):
        try:
            if isinstance(item, h5py.Dataset) and item.ndim >= 2 and item.size >= 64 and \
                    TypeOf(item.dtype)[0] and item.id.get_offset() is not None:
                best.append((item.size, name, item.shape, item.dtype, item.id.get_offset()))
        except (ValueError, TypeError, KeyError):
            pass

    try:
        with h5py.File(path, "r") as f:
            f.visititems(Visit)
            if best:
                size, name, shape, dtype, offset = max(best, key=lambda b: b[0])
                return offset, list(shape)[::-1], dtype, f[name][()]
    except OSError:
        pass
    return None


def Hdf5Shipped(corpus, path, source, images):
    found = Hdf5Largest(path)
    if found is None:
        return
    offset, dims, dtype, values = found
    tname, order = TypeOf(dtype)
    name = os.path.basename(path)
    rel = f"shipped/{source}_{name}"
    with open(path, "rb") as src:
        Write(corpus, rel, src.read())
    Add(corpus, rel, offset, dims, tname, order, f"{source} {name} hdf5 {tname}", source,
        "container")
    if values.ndim == 2 and min(values.shape) >= 16:
        images.append((os.path.splitext(name)[0], values.T[:, :, None]))


def TiffContiguous(path):
    """Offset, dims, type, order and values of a TIFF whose first series lies in
    one uncompressed run, as tifffile reads the strip offsets."""
    import tifffile
    with tifffile.TiffFile(path) as tif:
        series = tif.series[0]
        page = tif.pages[0]
        if page.compression != 1 or page.samplesperpixel != 1 or series.dataoffset is None:
            return None
        tname, _ = TypeOf(series.dtype)
        if tname is None:
            return None
        order = "big" if tif.byteorder == ">" else "little"
        return series.dataoffset, list(series.shape)[::-1], tname, order, series.asarray()


def TiffShipped(corpus, name, content, source, images):
    rel = f"shipped/{source}_{name}"
    Write(corpus, rel, content)
    found = TiffContiguous(corpus.Path(rel))
    if found is None:
        os.remove(corpus.Path(rel))
        return
    offset, dims, tname, order, values = found
    Add(corpus, rel, offset, dims, tname, order, f"{source} {name} tiff {tname}", source,
        "container")
    if values.ndim == 2 and min(values.shape) >= 16:
        images.append((os.path.splitext(name)[0], values.T[:, :, None]))


def PnmHeader(content):
    """Offset, width, height, maxval of a binary PGM/PPM, by its definition."""
    fields, pos = [], 2
    while len(fields) < 3:
        while content[pos:pos + 1].isspace():
            pos += 1
        if content[pos:pos + 1] == b"#":
            pos = content.index(b"\n", pos) + 1
            continue
        start = pos
        while not content[pos:pos + 1].isspace():
            pos += 1
        fields.append(int(content[start:pos]))
    return pos + 1, fields[0], fields[1], fields[2]


def PnmShipped(corpus, path, source, images):
    with open(path, "rb") as f:
        content = f.read()
    if content[:2] not in (b"P5", b"P6"):
        return
    offset, width, height, maxval = PnmHeader(content)
    tname = "byte" if maxval < 256 else "uint16"
    channels = 3 if content[:2] == b"P6" else 1
    values = np.frombuffer(content, ">" + gc.DTYPES[tname], width * height * channels, offset)
    gray = values.reshape(height, width, channels).mean(axis=2)
    if min(width, height) >= 16:
        images.append((os.path.splitext(os.path.basename(path))[0], np.round(gray).T[:, :, None]))
    if channels == 1 and min(width, height) >= 8:  # a 2 x 2 test pattern is no guess
        name = os.path.basename(path)
        rel = f"shipped/{source}_{name}"
        Write(corpus, rel, content)
        Add(corpus, rel, offset, [width, height], tname, "big", f"{source} {name} pgm", source,
            "container")


def Written(corpus, label, image, source, step):
    """A real image in the containers people hold, each truth from the writer."""
    plane = np.ascontiguousarray(image[:, :, 0])
    u16, _ = gc.Recast(plane, "uint16")
    f32 = plane.astype(np.float32)
    base = f"written/{source}_{label}"
    # NumPy, both orders of axes.
    for fortran in (False, True):
        rel = f"{base}_{'f' if fortran else 'c'}.npy"
        array = np.asfortranarray(plane) if fortran else np.ascontiguousarray(plane.T)
        np.save(corpus.Path(rel), array.astype("<f4" if fortran else ">u2"))
        with open(corpus.Path(rel), "rb") as f:
            offset, dims, dtype = NumpyArray(f.read(4096))
        tname, order = TypeOf(dtype)
        Add(corpus, rel, offset, dims, tname, order, f"{label} npy written", source, "written")
    # TIFF, uncompressed, one byte order each.
    import tifffile
    for order, values in (("little", u16), ("big", f32)):
        rel = f"{base}_{order}.tif"
        tifffile.imwrite(corpus.Path(rel), values.T, byteorder="<" if order == "little" else ">",
                         photometric="minisblack", metadata=None)
        offset, dims, tname, order, _ = TiffContiguous(corpus.Path(rel))
        Add(corpus, rel, offset, dims, tname, order, f"{label} tiff written {tname}", source,
            "written")
    # HDF5, contiguous, with a second dataset after the image.
    import h5py
    rel = f"{base}.h5"
    with h5py.File(corpus.Path(rel), "w") as f:
        f.attrs["origin"] = source
        f.create_dataset("image", data=u16.T)
        f.create_dataset("preview", data=u16.T[::4, ::4])
    offset, dims, dtype, _ = Hdf5Largest(corpus.Path(rel))
    Add(corpus, rel, offset, dims, *TypeOf(dtype), f"{label} hdf5 written", source, "written")
    # MRC, as an electron microscope's software writes it.
    import mrcfile
    rel = f"{base}.mrc"
    with mrcfile.new(corpus.Path(rel), overwrite=True) as mrc:
        mrc.set_data((f32 if step % 2 else u16.astype(np.int16) // 2).T[None])
    with mrcfile.open(corpus.Path(rel), permissive=True) as mrc:
        h = mrc.header
        tname = {0: "int8", 1: "int16", 2: "float32", 6: "uint16"}[int(h.mode)]
        Add(corpus, rel, 1024 + int(h.nsymbt), [int(h.nx), int(h.ny), int(h.nz)], tname, "little",
            f"{label} mrc written {tname}", source, "written")
    # FITS by its definition: cards, then big-endian data padded to 2880 bytes.
    rel = f"{base}.fits"
    cards = ["SIMPLE  =                    T", "BITPIX  =                   16",
             "NAXIS   =                    2", f"NAXIS1  = {plane.shape[0]:20d}",
             f"NAXIS2  = {plane.shape[1]:20d}", "BZERO   =                32768",
             "BSCALE  =                    1", f"ORIGIN  = '{source[:18]}'"]
    # Every other file has a two-block header: blank cards before END, since
    # blanks after END end the header at the first block.
    header = ("".join(c.ljust(80) for c in cards).ljust(2880 * (1 + step % 2) - 80) +
              "END".ljust(80)).encode()
    data = (u16.astype(np.int32) - 32768).astype(">i2").tobytes(order="F")
    Write(corpus, rel, header + data + bytes(-len(data) % 2880))
    Add(corpus, rel, len(header), plane.shape, "int16", "big", f"{label} fits written bzero",
        source, "written")
    # ENVI: the data file with its own header offset, the .hdr beside it.
    rel = f"{base}_envi.img"
    skip = 512 * (1 + step % 3)
    Write(corpus, rel, bytes(skip) + u16.astype(">u2").tobytes(order="F"))
    Write(corpus, rel[:-4] + ".hdr",
          (f"ENVI\nsamples = {plane.shape[0]}\nlines = {plane.shape[1]}\nbands = 1\n"
           f"header offset = {skip}\nfile type = ENVI Standard\ndata type = 12\n"
           "interleave = bsq\nbyte order = 1\n").encode())
    Add(corpus, rel, skip, plane.shape, "uint16", "big", f"{label} envi written", source,
        "written")
    Dicom(corpus, f"{base}.dcm", label, u16, source, explicit=step % 2 == 0)


def Dicom(corpus, rel, label, u16, source, explicit):
    """A secondary-capture DICOM written by pydicom; the data offset is where
    pydicom, reading the file back, stops before the pixel data element."""
    import pydicom
    from pydicom.dataset import Dataset, FileMetaDataset
    from pydicom.uid import ExplicitVRLittleEndian, ImplicitVRLittleEndian, generate_uid
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = "1.2.840.10008.5.1.4.1.1.7"
    meta.MediaStorageSOPInstanceUID = generate_uid(entropy_srcs=[rel])
    meta.TransferSyntaxUID = ExplicitVRLittleEndian if explicit else ImplicitVRLittleEndian
    ds = Dataset()
    ds.file_meta = meta
    ds.is_little_endian, ds.is_implicit_VR = True, not explicit
    ds.SOPClassUID, ds.SOPInstanceUID = meta.MediaStorageSOPClassUID, meta.MediaStorageSOPInstanceUID
    ds.PatientName, ds.Modality, ds.SeriesDescription = "corpus", "OT", label
    ds.Rows, ds.Columns = u16.shape[1], u16.shape[0]
    ds.SamplesPerPixel, ds.PhotometricInterpretation = 1, "MONOCHROME2"
    ds.BitsAllocated, ds.BitsStored, ds.HighBit, ds.PixelRepresentation = 16, 16, 15, 0
    ds.PixelData = u16.astype("<u2").tobytes(order="F")
    ds.save_as(corpus.Path(rel), write_like_original=False)
    with open(corpus.Path(rel), "rb") as f:
        pydicom.dcmread(f, stop_before_pixels=True)
        offset = f.tell() + (12 if explicit else 8)
    Add(corpus, rel, offset, u16.shape, "uint16", "little",
        f"{label} dicom written {'explicit' if explicit else 'implicit'}", source, "written")


def Trailing(corpus, label, image, source, step, rng):
    """Raw data with bytes after it: a text footer, padding to a block, a second image."""
    tname = ["uint16", "float32", "int16", "byte"][step % 4]
    order = "big" if step % 3 == 1 and gc.BytesOf(tname) > 1 else "little"
    cast, note = gc.Recast(image, tname)
    header = gc.HeaderBytes(gc.HEADER_KINDS[step % 5], rng, gc.TEXT_LENGTHS[step % 7], image.shape)
    body = gc.Encoded(cast, tname, order)
    for tail in ("footer", "block", "second"):
        if tail == "footer":
            extra = (f"\nend of frame {label}\nexposure = 1.5\n" * 30).encode()
        elif tail == "block":
            extra = bytes(-(len(header) + len(body)) % 65536 or 4096)
        else:
            extra = gc.Encoded(cast[::2, ::2], tname, order)
        rel = f"trailing/{source}_{label}_{tail}_{tname}_{order}.raw"
        Write(corpus, rel, header + body + extra)
        Add(corpus, rel, len(header), image.shape, tname, order,
            f"{label} {tail} after data {tname} {order} {note}", source, "trailing")


SIZES = [(24, 17), (37, 53), (100, 75), (64, 64), (333, 250), (17, 300), (1000, 12)]


def Singles(corpus, label, image, source, step, rng):
    """One plane of many sizes, from tiny to large, raw behind a header."""
    x, y = image.shape[:2]
    for i, (w, h) in enumerate(SIZES[step % 2::2] + [(x, y)]):
        w, h = min(w, x), min(h, y)
        ox, oy = (x - w) // 2, (y - h) // 3
        crop = image[ox:ox + w, oy:oy + h]
        tname = ["byte", "uint16", "float32", "int16"][(step + i) % 4]
        order = "big" if (step + i) % 3 == 2 and gc.BytesOf(tname) > 1 else "little"
        cast, note = gc.Recast(crop, tname)
        hkind = gc.HEADER_KINDS[(step + i) % 5]
        header = gc.HeaderBytes(hkind, rng, gc.TEXT_LENGTHS[(step + i) % 7], crop.shape)
        if np.ptp(cast) == 0:  # a crop of a black frame: no layout to find in it
            continue
        rel = f"single/{source}_{label}_{w}x{h}_{tname}_{order}_{hkind}.raw"
        with open(corpus.Path(rel), "wb") as f:
            f.write(header + gc.Encoded(cast, tname, order))
        Add(corpus, rel, len(header), crop.shape, tname, order,
            f"{label} single {w}x{h} {tname} {order} {hkind} {note}", source, "single")


def Large(corpus, label, image, source):
    """A large plane, 16 bit: the image enlarged smoothly to about four thousand
    voxels across, as a high-resolution camera would take it. (A mosaic of
    copies would repeat within its rows, which no real picture does.)"""
    from scipy import ndimage
    plane = np.asarray(image, dtype=np.float64)[:, :, 0]
    factor = 4000 / max(plane.shape)
    big = ndimage.zoom(plane, factor, order=1)[:, :, None]
    cast, note = gc.Recast(big, "uint16")
    rel = f"single/{source}_{label}_large_{big.shape[0]}x{big.shape[1]}.raw"
    corpus_header = b""
    Write(corpus, rel, corpus_header + gc.Encoded(cast, "uint16", "little"))
    Add(corpus, rel, 0, big.shape, "uint16", "little", f"{label} single large uint16 {note}",
        source, "single")


def Frames(corpus, label, image, source, step, rng):
    """A stack of frames panning across the image, as a camera or a scanning
    stage records them."""
    x, y = image.shape[:2]
    w, h = max(8, x * 3 // 4), max(8, y * 3 // 4)
    count = 12 + step % 9
    frames = [image[(x - w) * i // count:(x - w) * i // count + w,
                    (y - h) * i // (2 * count):(y - h) * i // (2 * count) + h, 0]
              for i in range(count)]
    stack = np.stack(frames, axis=2)
    tname = ["uint16", "byte", "float32", "int16"][step % 4]
    order = "big" if step % 2 and gc.BytesOf(tname) > 1 else "little"
    cast, note = gc.Recast(stack, tname)
    hkind = gc.HEADER_KINDS[step % 5]
    header = gc.HeaderBytes(hkind, rng, gc.TEXT_LENGTHS[step % 7], stack.shape)
    rel = f"stack/{source}_{label}_{count}frames_{tname}_{order}.raw"
    Write(corpus, rel, header + gc.Encoded(cast, tname, order))
    Add(corpus, rel, len(header), stack.shape, tname, order,
        f"{label} stack {count} frames {tname} {order} {hkind} {note}", source, "stack")


def Counts(corpus, label, image, source, step):
    """Camera counts: 10 to 14 significant bits in 16-bit words, and unsigned
    16-bit data above 32767."""
    v = np.asarray(image, dtype=np.float64)
    lo, hi = float(v.min()), float(v.max())
    unit = (v - lo) / max(hi - lo, 1e-12)
    for bits, shift, order in [(10, 0, "little"), (12, 0, "big"), (14, 0, "little"),
                               (12, 4, "little"), (16, 0, "big")]:
        if (bits + shift + step) % 2 and bits not in (12, 16):
            continue
        counts = np.round(unit * (2 ** bits - 1)).astype(np.uint16) << shift
        if bits == 16:
            counts = (32768 + counts // 2).astype(np.uint16)
        rel = f"counts/{source}_{label}_{bits}bit_shift{shift}_{order}.raw"
        header = bytes(256 * (step % 3))
        Write(corpus, rel, header + gc.Encoded(counts, "uint16", order))
        what = "above 32767" if bits == 16 else f"{bits}-bit counts<<{shift}"
        Add(corpus, rel, len(header), image.shape, "uint16", order, f"{label} uint16 {what}",
            source, "counts")


def Photos(sources):
    """Photographs: SciPy's two camera pictures, in grey."""
    misc = "/usr/lib/python3/dist-packages/scipy/misc"
    with open(f"{misc}/face.dat", "rb") as f:
        face = bz2.decompress(f.read())
    face = np.frombuffer(face, np.uint8).reshape(768, 1024, 3).mean(axis=2)
    with open(f"{misc}/ascent.dat", "rb") as f:
        ascent = np.asarray(pickle.load(f), dtype=np.float64)
    return [("face", np.round(face).T[:, :, None]), ("ascent", ascent.T[:, :, None])]


def Main(corpus, sources):
    rng = np.random.default_rng(23)
    sunpy = f"{sources}/usr/lib/python3/dist-packages/sunpy/data/test"
    reproject = f"{sources}/usr/lib/python3/dist-packages/reproject"
    hyper = f"{sources}/usr/lib/python3/dist-packages/hyperspy"
    cimg = f"{sources}/usr/share/doc/cimg-dev/examples/img"
    ccdproc = f"{sources}/usr/lib/python3/dist-packages/ccdproc/tests/data"
    images = {source: [] for source in GROUPS}

    FitsShipped(corpus, sorted(glob.glob(f"{sunpy}/**/*.f*ts*", recursive=True) +
                               glob.glob(f"{sunpy}/**/*.fit.gz", recursive=True)),
                "python3-sunpy", images["python3-sunpy"])
    # reproject ships sunpy's AIA test image too; it stays with sunpy.
    with open(f"{sunpy}/aia_171_level1.fits", "rb") as f:
        aia = f.read()
    FitsShipped(corpus, [p for p in sorted(glob.glob(f"{reproject}/**/*.fits*", recursive=True))
                         if Unzipped(p) != aia], "python3-reproject", images["python3-reproject"])
    FitsShipped(corpus, sorted(glob.glob(f"{ccdproc}/*.fit*")), "python3-ccdproc",
                images["python3-ccdproc"])
    for path in sorted(glob.glob(f"{sources}/usr/share/jbigkit-testdata/*.pgm")):
        PnmShipped(corpus, path, "jbigkit-testdata", images["jbigkit-testdata"])
    for path in sorted(glob.glob(f"{hyper}/**/*.npy", recursive=True)):
        NumpyShipped(corpus, path, "python3-hyperspy")
    for path in sorted(glob.glob(f"{hyper}/**/*.emd", recursive=True) +
                       glob.glob(f"{hyper}/**/*.hdf5", recursive=True) +
                       glob.glob(f"{hyper}/**/*.hspy", recursive=True)):
        Hdf5Shipped(corpus, path, "python3-hyperspy", images["python3-hyperspy"])
    tiffs = f"{hyper}/tests/io/tiff_files"
    for path in sorted(glob.glob(f"{tiffs}/*")):
        name = os.path.basename(path)
        if name.endswith((".tif", ".tif.gz")):
            TiffShipped(corpus, name.replace(".gz", ""), Unzipped(path), "python3-hyperspy",
                        images["python3-hyperspy"])
        elif name.endswith(".zip"):
            with zipfile.ZipFile(path) as z:
                for member in z.namelist():
                    if member.lower().endswith((".tif", ".tiff")):
                        TiffShipped(corpus, os.path.basename(member), z.read(member),
                                    "python3-hyperspy", images["python3-hyperspy"])
    for path in sorted(glob.glob(f"{cimg}/*.p[gp]m")):
        PnmShipped(corpus, path, "cimg-examples", images["cimg-examples"])
    from PIL import Image
    for path in sorted(glob.glob(f"{cimg}/*.bmp")):
        gray = np.asarray(Image.open(path).convert("L"), dtype=np.float64)
        images["cimg-examples"].append((os.path.splitext(os.path.basename(path))[0],
                                        gray.T[:, :, None]))
    images["python3-scipy"] = Photos(sources)
    # Of PyWavelets' pictures only the aerial one: its camera and ascent
    # pictures are other packages' samples too.
    with np.load(f"{sources}/usr/lib/python3/dist-packages/pywt/data/aero.npz") as aero:
        images["python3-pywt"].append(("aero", np.asarray(aero["data"], np.float64).T[:, :, None]))
    for path in sorted(glob.glob(f"{sources}/usr/share/xplanet/images/*.jpg")):
        gray = np.asarray(Image.open(path).convert("L"), dtype=np.float64)
        images["xplanet-images"].append((os.path.splitext(os.path.basename(path))[0],
                                         gray.T[:, :, None]))
    FitsShipped(corpus, sorted(glob.glob(f"{sources}/usr/lib/python3/dist-packages/photutils/**/"
                                         "*.fits*", recursive=True)),
                "python3-photutils", images["python3-photutils"])

    real = []
    for source, found in images.items():
        # A constant image (some test files are stripped to zeros) has no layout
        # that any reader of its bytes could find.
        found = [item for item in found if np.ptp(np.nan_to_num(np.asarray(item[1]))) > 0]
        # The larger images first, a few per source, so that no source floods the corpus.
        found = sorted(found, key=lambda item: -item[1].size)[:6]
        for step, (label, image) in enumerate(found):
            image = np.nan_to_num(np.asarray(image, dtype=np.float64))
            if step < 3:
                Written(corpus, label, image, source, step)
                Trailing(corpus, label, image, source, step, rng)
                Counts(corpus, label, image, source, step)
            Singles(corpus, label, image, source, step, rng)
            if step < 2:
                Frames(corpus, label, image, source, step, rng)
            if step == 0:
                Large(corpus, label, image, source)
            real.append((f"{source}_{label}", image, ["full", "crop", "thirds"][:2 + step % 2],
                         source))
    gc.Reencoded(corpus, real, seed=29)
