"""Reads headers with GDAL's ENVI driver or VTK's readers, as the tools built on
them do, and writes what each decoded: the sizes on one line, fastest first,
then the voxels in little-endian byte order.

Usage: readers.py gdal|vtk-nrrd|vtk-meta LIST, where each line of LIST is
"input<TAB>output"; the input is the data file for GDAL, the header for VTK.
"""
import sys


def write(path, sizes, values):
    with open(path, "wb") as out:
        out.write((" ".join(str(s) for s in sizes) + "\n").encode())
        out.write(values.astype(values.dtype.newbyteorder("<")).tobytes())


def read_gdal(source, target):
    from osgeo import gdal
    gdal.UseExceptions()
    data = gdal.Open(source)
    values = data.ReadAsArray()
    write(target, [data.RasterXSize, data.RasterYSize, data.RasterCount], values)


def read_vtk(source, target, kind):
    # The serial readers themselves: the whole of "vtk" would load the MPI
    # modules, whose NRRD reader takes over and fails without MPI.
    from vtkmodules.util import numpy_support
    from vtkmodules.vtkIOImage import vtkMetaImageReader, vtkNrrdReader
    reader = vtkNrrdReader() if kind == "vtk-nrrd" else vtkMetaImageReader()
    reader.SetFileName(source)
    reader.Update()
    image = reader.GetOutput()
    values = numpy_support.vtk_to_numpy(image.GetPointData().GetScalars())
    write(target, list(image.GetDimensions()), values)


def main():
    kind, listing = sys.argv[1], sys.argv[2]
    with open(listing) as lines:
        for line in lines:
            source, target = line.rstrip("\n").split("\t")
            try:
                if kind == "gdal":
                    read_gdal(source, target)
                else:
                    read_vtk(source, target, kind)
            except Exception as error:  # one case failing must not hide the others
                sys.stderr.write(f"{source}: {error}\n")


main()
